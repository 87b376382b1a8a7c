#pragma once
// The calls handed from the threads that raise the converter's events to the command line's
// main loop, in the order they were handed over. Posting only takes a short lock of its own, so
// the converter's lock is never held while waiting for the main loop.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace mobivert::cli {

class TMainLoopQueue {
public:
    using TCall = std::function<void()>;

    void Post(TCall call);
    // Wakes a Take that is waiting.
    void Wake() { changed_.notify_one(); }
    // Waits up to the timeout for calls or for wake, then takes what there is.
    std::deque<TCall> Take(std::chrono::milliseconds timeout, const std::atomic<bool>& wake);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TCall> calls_;
};

} // namespace mobivert::cli
