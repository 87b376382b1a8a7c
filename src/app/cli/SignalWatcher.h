#pragma once
// SIGINT and SIGTERM are blocked in every thread and taken by one thread of their own: the
// first asks the batch to stop, a later one ends the program at once (see TStopSignals).

#include "app/cli/MainLoopQueue.h"

#include <atomic>
#include <csignal>
#include <thread>

namespace mobivert::cli {

class TSignalWatcher {
public:
    // Before any other thread exists, so that every thread inherits the blocked signals.
    TSignalWatcher(std::atomic<bool>& stopRequested, TMainLoopQueue& queue);
    ~TSignalWatcher();
    TSignalWatcher(const TSignalWatcher&) = delete;
    TSignalWatcher& operator=(const TSignalWatcher&) = delete;

private:
    sigset_t signals_;
    sigset_t previous_;
    std::thread thread_;
};

} // namespace mobivert::cli
