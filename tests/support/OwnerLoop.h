#pragma once
// A minimal owner-thread event loop for the component's synchronous mode: calls posted with a
// delay run on the thread that runs the loop, in due order.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

namespace mobivert::test {

class OwnerLoop {
public:
    void Post(std::function<void()> call, int delayMs);
    // Runs due calls until the predicate holds or the timeout passes; true when it holds.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> calls_;
};

} // namespace mobivert::test
