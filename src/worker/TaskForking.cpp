#include "worker/TaskForking.h"

#include "binding/AVLibs.h"
#include "converter/WorkerProcess.h"
#include "converter/WorkerProtocol.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mman.h>
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

// What the middle process needs, and the pid it leaves for this process.
struct MiddleJob {
    const TaskRequest* Request = nullptr;
    const std::function<void()>* RunTask = nullptr;
    pid_t Task = -1;
};

// The middle process's body: it forks the task's process and ends at once, which hands the task
// process over to the converter (its subreaper). It shares this process's memory, so its pid
// reaches this process through the job.
int ForkFromMiddle(void* data) {
    auto* job = static_cast<MiddleJob*>(data);
    const pid_t task = fork();
    if (task == 0) {
        BecomeTaskProcess(*job->Request);
        (*job->RunTask)();
        _exit(0);
    }
    job->Task = task;
    return 0;
}

#if defined(__SANITIZE_THREAD__)
constexpr bool MIDDLE_SHARES_MEMORY = false; // ThreadSanitizer forks only from a whole process
#else
constexpr bool MIDDLE_SHARES_MEMORY = true;
#endif

// The middle process: one that shares this process's memory (so starting and ending it copies
// and tears down no page tables) while this process waits for it to end, on a stack of its own
// that the task process then keeps as its main stack; an ordinary forked copy where the
// sanitizer's runtime needs that. Its pid, or -1.
pid_t StartMiddle(MiddleJob& job) {
    if (!MIDDLE_SHARES_MEMORY) {
        // A copy: the task's pid comes back through a pipe.
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return -1;
        const pid_t middle = fork();
        if (middle == 0) {
            close(ends[0]);
            ForkFromMiddle(&job);
            _exit(write(ends[1], &job.Task, sizeof job.Task) == sizeof job.Task ? 0 : 1);
        }
        close(ends[1]);
        if (middle > 0 && read(ends[0], &job.Task, sizeof job.Task) != sizeof job.Task)
            job.Task = -1;
        close(ends[0]);
        return middle;
    }
    constexpr size_t STACK_SIZE = 8 << 20;
    static void* stack = mmap(nullptr, STACK_SIZE, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return -1;
    return clone(ForkFromMiddle, static_cast<char*>(stack) + STACK_SIZE,
                 CLONE_VM | CLONE_VFORK | SIGCHLD, &job);
}

// Forks the task's process by way of a short-lived middle one, so that the task's process is
// handed over to the converter (its subreaper) when the middle one ends; the task's pid.
pid_t ForkTask(const TaskRequest& request, const std::function<void()>& runTask) {
    MiddleJob job{&request, &runTask, -1};
    const pid_t middle = StartMiddle(job);
    if (middle < 0)
        return -1;
    // Once the middle process has been waited for, the task process is the converter's child.
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    return job.Task;
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
