#include "engine/session/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace mobivert::engine {

int NiceValue(TThreadPriority priority) {
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

void ApplyToCurrentThread(TThreadPriority priority) {
    // On Linux a thread's nice value is per kernel thread: PRIO_PROCESS with the thread id.
    int nice = NiceValue(priority);
    if (getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) != nice)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

} // namespace mobivert::engine
