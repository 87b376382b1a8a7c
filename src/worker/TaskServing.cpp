#include "worker/TaskServing.h"

#include "binding/AVLibs.h"
#include "converter/WorkerPool.h"
#include "converter/WorkerProcess.h"
#include "converter/WorkerProtocol.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace mobivert::converter;

namespace mobivert::worker {

namespace {

constexpr int SERVE_CHANNEL = 3;
// A worker that still holds more than this after a task (and after giving back what the heap
// keeps free) makes way for a fresh one rather than carry it into the next.
constexpr long RETIRE_RESIDENT_BYTES = 256L << 20;
// How long the threads of a task that ended are given to be gone.
constexpr auto THREADS_END_TIMEOUT = std::chrono::milliseconds(500);

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
    while ((got = recvmsg(SERVE_CHANNEL, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
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
    while (send(SERVE_CHANNEL, text.data(), text.size(), MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

// The libraries as the converter's settings name them, with libavfilter, loaded before the
// first task.
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

bool ReadRequest(const std::string& text, const int* fds, int fdCount, TaskRequest& request) {
    if (text.rfind(WORKER_TASK_REQUEST, 0) != 0 || fdCount < 1)
        return false;
    char* end = nullptr;
    const char* number = text.c_str() + std::strlen(WORKER_TASK_REQUEST);
    request.Nice = static_cast<int>(std::strtol(number, &end, 10));
    request.Channel = fds[0];
    request.Output = fdCount > 1 ? fds[1] : -1;
    return end && end != number && !*end;
}

// MOBIVERT_WORKER_FAULT=unanswered: this process ends on a task's request, before it answers,
// for tests of the converter's recovery.
bool DiesBeforeAnswering() {
    const char* fault = std::getenv("MOBIVERT_WORKER_FAULT");
    return fault && std::strcmp(fault, "unanswered") == 0;
}

int ThreadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// After a task: no more threads run than before the first (the libraries may keep some of
// their own from their loading), and what the task left in memory is within bounds. The run's
// threads are detached: one that has just finished may still be on its way out.
bool FitForAnotherTask(int idleThreads) {
    const auto deadline = std::chrono::steady_clock::now() + THREADS_END_TIMEOUT;
    while (ThreadCount() > idleThreads) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (ResidentBytes() <= RETIRE_RESIDENT_BYTES)
        return true;
    malloc_trim(0);
    return ResidentBytes() <= RETIRE_RESIDENT_BYTES;
}

// Between tasks the output's descriptor is held on /dev/null, so that no descriptor received
// with a request lands on it.
void HoldOutputDescriptor() {
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0 && null != WORKER_OUTPUT_DESCRIPTOR) {
        dup3(null, WORKER_OUTPUT_DESCRIPTOR, O_CLOEXEC);
        close(null);
    }
}

// The task's output where a worker started for it would have it, and its priority; false when
// the priority cannot be had (a worker cannot raise its own), which the converter then gives to
// a fresh worker.
bool BeginTask(const TaskRequest& request) {
    if (setpriority(PRIO_PROCESS, 0, request.Nice) != 0)
        return false;
    if (request.Output >= 0) {
        dup3(request.Output, WORKER_OUTPUT_DESCRIPTOR, O_CLOEXEC);
        close(request.Output);
    }
    return true;
}

void CloseRequest(const int* fds, int fdCount) {
    for (int k = 0; k < fdCount; ++k)
        close(fds[k]);
}

} // namespace

int ServeTasks(const TRunTask& runTask) {
    std::string text;
    int fds[2] = {-1, -1};
    int fdCount = 0;
    if (!ReceiveMessage(text, fds, fdCount))
        return 0;
    CloseRequest(fds, fdCount);
    HoldOutputDescriptor();
    LoadLibraries(text);
    // A thread started and ended first, so that a runtime which starts a helper thread of its
    // own with the first thread (a sanitizer's) has it already when the threads are counted.
    std::thread([] {}).join();
    const int idleThreads = ThreadCount();
    Answer(WORKER_READY_ANSWER);
    while (ReceiveMessage(text, fds, fdCount)) {
        TaskRequest request;
        if (!ReadRequest(text, fds, fdCount, request)) {
            CloseRequest(fds, fdCount);
            Answer(WORKER_REFUSED_ANSWER);
            continue;
        }
        if (DiesBeforeAnswering())
            _exit(1);
        if (!BeginTask(request)) {
            CloseRequest(fds, fdCount);
            Answer(WORKER_REFUSED_ANSWER);
            continue;
        }
        Answer(WORKER_RUNNING_ANSWER);
        bool fit = runTask(request.Channel);
        close(request.Channel);
        if (request.Output >= 0)
            HoldOutputDescriptor();
        if (!fit || !FitForAnotherTask(idleThreads))
            return 0;
    }
    return 0;
}

} // namespace mobivert::worker
