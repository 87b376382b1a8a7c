#include "converter/WorkerStarter.h"

#include "converter/WorkerProcess.h"
#include "converter/WorkerProtocol.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mobivert::converter {

namespace {

// Loading the libraries, and forking, take well under this; a worker silent for longer is
// taken for hung.
constexpr int ANSWER_TIMEOUT_MS = 5000;
// How long a pre-loaded worker whose socket was closed is given to end by itself.
constexpr auto END_TIMEOUT = std::chrono::seconds(2);
// How long the task processes it left behind (forked for a request it never answered) are
// given to see their ended channel and end; then they are killed.
constexpr auto LEFTOVER_TIMEOUT = std::chrono::seconds(2);

bool SendMessage(int socket, const std::string& text, const int* fds, int fdCount) {
    iovec part{const_cast<char*>(text.data()), text.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    if (fdCount > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(fdCount * sizeof(int));
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(fdCount * sizeof(int));
        std::memcpy(CMSG_DATA(header), fds, fdCount * sizeof(int));
    }
    ssize_t sent;
    while ((sent = sendmsg(socket, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent == static_cast<ssize_t>(text.size());
}

// The next message, waited for at most ANSWER_TIMEOUT_MS; empty when none came.
std::string ReceiveAnswer(int socket) {
    pollfd watch{socket, POLLIN, 0};
    int ready;
    while ((ready = poll(&watch, 1, ANSWER_TIMEOUT_MS)) < 0 && errno == EINTR) {
    }
    if (ready <= 0)
        return {};
    char buffer[256];
    ssize_t got;
    while ((got = recv(socket, buffer, sizeof buffer, 0)) < 0 && errno == EINTR) {
    }
    return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
}

int CallingThreadNice() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, 0);
    return errno ? 0 : nice;
}

// Waits up to the deadline for the process to end; true once it has been waited for.
bool AwaitEnd(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pid_t ended = waitpid(pid, nullptr, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Waits for every process of the group, which this process has to wait for; the ones that do
// not end within LEFTOVER_TIMEOUT are killed first.
void ReapGroup(pid_t group) {
    const auto deadline = std::chrono::steady_clock::now() + LEFTOVER_TIMEOUT;
    for (bool killed = false;;) {
        pid_t ended = waitpid(-group, nullptr, killed ? 0 : WNOHANG);
        if (ended < 0 && errno == EINTR)
            continue;
        if (ended < 0)
            return; // none left
        if (ended > 0)
            continue;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(-group, SIGKILL);
            killed = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

} // namespace

TWorkerStarter::~TWorkerStarter() {
    std::lock_guard lock(mutex_);
    Abandon();
}

void TWorkerStarter::Abandon() {
    if (socket_ >= 0)
        close(socket_);
    socket_ = -1;
    if (pid_ <= 0)
        return;
    // Without its socket it ends by itself, having waited for what it started; one that does
    // not end soon is killed.
    if (!AwaitEnd(pid_, std::chrono::steady_clock::now() + END_TIMEOUT)) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    // What it forked and the converter never adopted (a task process whose pid it did not
    // pass on, a middle process) is still in its process group, handed over to this process
    // as their subreaper: all of them are waited for, so none stays a zombie or runs on.
    ReapGroup(pid_);
    pid_ = -1;
}

bool TWorkerStarter::Start(const std::string& program, const std::string& libraryDirectory,
                           bool versioned, std::string& error) {
    std::lock_guard lock(mutex_);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        error = std::string("cannot start the worker: ") + std::strerror(errno);
        return false;
    }
    // The forked task processes are handed over to this process when the one that forked them
    // ends, so that they are waited for here as spawned ones are.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_ = SpawnWorker(program, WORKER_SERVE_ARGUMENT, ends[1], -1, error);
    close(ends[1]);
    if (pid_ < 0) {
        close(ends[0]);
        return false;
    }
    socket_ = ends[0];
    TWorkerJob settings;
    settings.LibraryDirectory = libraryDirectory;
    settings.VersionedNames = versioned;
    if (!SendMessage(socket_, JobText(settings), nullptr, 0)) {
        Abandon();
        error = "cannot start the worker " + program;
        return false;
    }
    return true;
}

bool TWorkerStarter::AwaitReady() {
    if (!ready_)
        ready_ = ReceiveAnswer(socket_) == "ready";
    return ready_;
}

pid_t TWorkerStarter::StartTask(int channel, int outputFd) {
    std::lock_guard lock(mutex_);
    if (socket_ < 0)
        return -1;
    const int fds[2] = {channel, outputFd};
    const std::string request = "task " + std::to_string(CallingThreadNice());
    std::string answer;
    if (AwaitReady() && SendMessage(socket_, request, fds, outputFd >= 0 ? 2 : 1))
        answer = ReceiveAnswer(socket_);
    char* end = nullptr;
    long pid = answer.rfind("pid ", 0) == 0 ? std::strtol(answer.c_str() + 4, &end, 10) : -1;
    if (pid <= 0 || !end || *end) {
        // A task process may have been forked all the same: its channel ends here, so that it
        // ends too and is waited for with the rest of the pre-loaded worker's group.
        shutdown(channel, SHUT_RDWR);
        Abandon();
        return -1;
    }
    // Adopted: a process group of its own, as a spawned worker has, out of the group whose
    // leftovers are waited for when the pre-loaded worker goes.
    setpgid(static_cast<pid_t>(pid), static_cast<pid_t>(pid));
    return static_cast<pid_t>(pid);
}

pid_t TWorkerStarter::Pid() const {
    std::lock_guard lock(mutex_);
    return pid_;
}

bool TWorkerStarter::Alive() const {
    std::lock_guard lock(mutex_);
    return socket_ >= 0;
}

} // namespace mobivert::converter
