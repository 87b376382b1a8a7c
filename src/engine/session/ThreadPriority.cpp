#include "engine/session/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace mobivert::engine {

namespace {

constexpr int kLeastFavourableNice = 19;

// On Linux a nice value belongs to a kernel thread: PRIO_PROCESS with a thread id, 0 for the
// calling one. -1 is a valid nice value, so errors are told apart by errno.
int NiceOfThread(id_t thread) {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, thread);
    return errno == 0 ? nice : 0;
}

// Read while the program starts, on its first thread, before any task thread lowered itself
// (threads inherit the nice value of the thread that creates them, so reading it later from a
// task thread could give that task's value instead of the process's).
const int processNice = NiceOfThread(0);

int Offset(TThreadPriority priority) {
    switch (priority) {
    case tpIdle:
        return 19;
    case tpLowest:
        return 10;
    case tpLower:
        return 5;
    case tpNormal:
        return 0;
    }
    return 0;
}

} // namespace

int ProcessNiceValue() {
    return processNice;
}

int NiceValue(TThreadPriority priority) {
    return std::min(kLeastFavourableNice, std::max(processNice, processNice + Offset(priority)));
}

void ApplyToCurrentThread(TThreadPriority priority) {
    const id_t self = static_cast<id_t>(gettid());
    int nice = NiceValue(priority);
    if (NiceOfThread(self) != nice)
        setpriority(PRIO_PROCESS, self, nice);
}

void ScheduleCurrentThreadAsBatchWork() {
    const sched_param normal{};
    sched_setscheduler(0, SCHED_BATCH, &normal);
}

} // namespace mobivert::engine
