#include "app/cli/MainLoopQueue.h"

#include <utility>

namespace mobivert::cli {

void TMainLoopQueue::Post(TCall call) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    changed_.notify_one();
}

std::deque<TMainLoopQueue::TCall> TMainLoopQueue::Take(std::chrono::milliseconds timeout,
                                                       const std::atomic<bool>& wake) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return !calls_.empty() || wake.load(); });
    return std::exchange(calls_, {});
}

} // namespace mobivert::cli
