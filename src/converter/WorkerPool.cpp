#include "converter/WorkerPool.h"

#include "converter/WorkerProcess.h"
#include "converter/WorkerProtocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace mobivert::converter {

namespace {

// Loading the libraries, and ending a task before taking the next, take well under this; a
// worker silent for longer is taken for hung.
constexpr int ANSWER_TIMEOUT_MS = 5000;
// How long a worker whose socket was closed is given to end by itself.
constexpr auto END_TIMEOUT = std::chrono::seconds(2);

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
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

TServingWorker::~TServingWorker() {
    Dismiss();
    if (pid_ > 0 && !AwaitEnd(pid_, std::chrono::steady_clock::now() + END_TIMEOUT))
        Kill();
}

bool TServingWorker::Start(const std::string& program, const std::string& libraryDirectory,
                           bool versioned, std::string& error) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        error = std::string("cannot start the worker: ") + std::strerror(errno);
        return false;
    }
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
        Kill();
        error = "cannot start the worker " + program;
        return false;
    }
    return true;
}

bool TServingWorker::Begin(int channel, int outputFd, int nice) {
    if (socket_ < 0)
        return false;
    if (!ready_)
        ready_ = ReceiveAnswer(socket_) == WORKER_READY_ANSWER;
    const int fds[2] = {channel, outputFd};
    const std::string request = WORKER_TASK_REQUEST + std::to_string(nice);
    return ready_ && SendMessage(socket_, request, fds, outputFd >= 0 ? 2 : 1) &&
           ReceiveAnswer(socket_) == WORKER_RUNNING_ANSWER;
}

void TServingWorker::Dismiss() {
    if (socket_ >= 0)
        close(socket_);
    socket_ = -1;
}

int TServingWorker::Kill() {
    Dismiss();
    int status = 0;
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    return status;
}

TWorkerPool::TWorkerPool(std::string program, std::string libraryDirectory, bool versioned)
    : program_(std::move(program)), libraryDirectory_(std::move(libraryDirectory)),
      versioned_(versioned) {}

TWorkerPool::~TWorkerPool() {
    // All are asked at once, then waited for one by one.
    for (auto& worker : idle_)
        worker->Dismiss();
    idle_.clear();
}

std::unique_ptr<TServingWorker> TWorkerPool::StartOne() {
    auto worker = std::make_unique<TServingWorker>();
    std::string error;
    return worker->Start(program_, libraryDirectory_, versioned_, error) ? std::move(worker)
                                                                         : nullptr;
}

void TWorkerPool::StartAhead(int count) {
    for (int k = 0; k < count; ++k) {
        auto worker = StartOne();
        if (!worker)
            return;
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(worker));
    }
}

std::unique_ptr<TServingWorker> TWorkerPool::TakeIdle() {
    std::lock_guard lock(mutex_);
    if (idle_.empty())
        return nullptr;
    // The one that served last: its memory is the warmest.
    auto worker = std::move(idle_.back());
    idle_.pop_back();
    busy_.push_back(worker->Pid());
    return worker;
}

void TWorkerPool::Lend(pid_t pid) {
    std::lock_guard lock(mutex_);
    busy_.push_back(pid);
}

void TWorkerPool::Unlend(pid_t pid) {
    std::lock_guard lock(mutex_);
    busy_.erase(std::remove(busy_.begin(), busy_.end(), pid), busy_.end());
}

std::unique_ptr<TServingWorker> TWorkerPool::Begin(int channel, int outputFd) {
    const int nice = CallingThreadNice();
    // An idle worker that does not take the task has gone, hangs, or runs at a priority it
    // cannot leave: it is killed, and the next one is asked.
    while (auto worker = TakeIdle()) {
        if (worker->Begin(channel, outputFd, nice))
            return worker;
        Discard(std::move(worker));
    }
    // Started by this thread, a new worker has the task's priority from the start.
    auto worker = StartOne();
    if (!worker)
        return nullptr;
    Lend(worker->Pid());
    if (worker->Begin(channel, outputFd, nice))
        return worker;
    Discard(std::move(worker));
    return nullptr;
}

void TWorkerPool::TakeBack(std::unique_ptr<TServingWorker> worker) {
    Unlend(worker->Pid());
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(worker));
}

int TWorkerPool::Discard(std::unique_ptr<TServingWorker> worker) {
    const pid_t pid = worker->Pid();
    const int status = worker->Kill();
    Unlend(pid);
    return status;
}

std::vector<pid_t> TWorkerPool::Pids() const {
    std::lock_guard lock(mutex_);
    std::vector<pid_t> pids = busy_;
    for (const auto& worker : idle_)
        pids.push_back(worker->Pid());
    return pids;
}

} // namespace mobivert::converter
