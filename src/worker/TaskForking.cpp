#include "worker/TaskForking.h"

#include "binding/AVLibs.h"
#include "converter/WorkerProcess.h"
#include "converter/WorkerProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mobivert::converter;

namespace mobivert::worker {

namespace {

constexpr int CHANNEL = 3;

struct TaskRequest {
    int Nice = 0;
    int Channel = -1;
    int Output = -1;
};

// One message of the converter; false when it has closed its end.
bool ReceiveMessage(std::string& text, int* fds, int& fdCount) {
    char buffer[65536];
    iovec part{buffer, sizeof buffer};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    while ((got = recvmsg(CHANNEL, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (got <= 0)
        return false;
    text.assign(buffer, static_cast<size_t>(got));
    fdCount = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const int count = static_cast<int>((header->cmsg_len - CMSG_LEN(0)) / sizeof(int));
        for (int k = 0; k < count; ++k) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + k * sizeof(int), sizeof fd);
            if (fdCount < 2)
                fds[fdCount++] = fd;
            else
                close(fd);
        }
    }
    return true;
}

void Answer(const std::string& text) {
    while (send(CHANNEL, text.data(), text.size(), MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

// The libraries as the converter's settings name them, with libavfilter, loaded before any
// task is forked.
void LoadLibraries(const std::string& settings) {
    TWorkerJob job;
    size_t start = 0;
    for (size_t end; (end = settings.find('\n', start)) != std::string::npos; start = end + 1) {
        bool done = false;
        ReadJobLine(job, settings.substr(start, end - start), done);
    }
    if (binding::LoadAVLibs(job.LibraryDirectory, job.VersionedNames)) {
        std::string error;
        binding::LoadAVFilter(error);
    }
}

// In the forked task process: the descriptors, signals and priority a worker spawned for the
// task would have. It stays in this process's group until the converter, having learnt its
// pid, gives it a group of its own: a task process the converter never heard of (this process
// stopped or died before answering) is then still found, by that group, and waited for.
void BecomeTaskProcess(const TaskRequest& request) {
    dup2(request.Channel, CHANNEL);
    if (request.Output >= 0 && request.Output != WORKER_OUTPUT_DESCRIPTOR)
        dup2(request.Output, WORKER_OUTPUT_DESCRIPTOR);
    else if (request.Output < 0)
        close(WORKER_OUTPUT_DESCRIPTOR);
    close_range(WORKER_OUTPUT_DESCRIPTOR + 1, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setpriority(PRIO_PROCESS, 0, request.Nice);
}

// Forks the task's process by way of a short-lived middle one, so that the task's process is
// handed over to the converter (its subreaper) when the middle one ends; the task's pid.
pid_t ForkTask(const TaskRequest& request, const std::function<void()>& runTask) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return -1;
    pid_t middle = fork();
    if (middle == 0) {
        close(pipeEnds[0]);
        pid_t task = fork();
        if (task == 0) {
            close(pipeEnds[1]);
            BecomeTaskProcess(request);
            runTask();
            _exit(0);
        }
        ssize_t written = write(pipeEnds[1], &task, sizeof task);
        _exit(written == sizeof task && task > 0 ? 0 : 1);
    }
    close(pipeEnds[1]);
    pid_t task = -1;
    if (middle > 0 && read(pipeEnds[0], &task, sizeof task) != sizeof task)
        task = -1;
    close(pipeEnds[0]);
    if (middle > 0)
        while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
        }
    return task;
}

// MOBIVERT_WORKER_FAULT=unanswered: this process ends after forking a task and before passing
// its pid on, for tests of the converter's recovery.
bool DiesBeforeAnswering() {
    const char* fault = std::getenv("MOBIVERT_WORKER_FAULT");
    return fault && std::strcmp(fault, "unanswered") == 0;
}

bool ReadRequest(const std::string& text, const int* fds, int fdCount, TaskRequest& request) {
    if (text.rfind("task ", 0) != 0 || fdCount < 1)
        return false;
    char* end = nullptr;
    request.Nice = static_cast<int>(std::strtol(text.c_str() + 5, &end, 10));
    request.Channel = fds[0];
    request.Output = fdCount > 1 ? fds[1] : -1;
    return end && !*end;
}

} // namespace

int ServeTasks(const std::function<void()>& runTask) {
    std::string text;
    int fds[2] = {-1, -1};
    int fdCount = 0;
    if (!ReceiveMessage(text, fds, fdCount))
        return 0;
    LoadLibraries(text);
    Answer("ready");
    while (ReceiveMessage(text, fds, fdCount)) {
        TaskRequest request;
        pid_t task = ReadRequest(text, fds, fdCount, request) ? ForkTask(request, runTask) : -1;
        for (int k = 0; k < fdCount; ++k)
            close(fds[k]);
        if (DiesBeforeAnswering())
            _exit(1);
        Answer(task > 0 ? "pid " + std::to_string(task) : "failed");
    }
    return 0;
}

} // namespace mobivert::worker
