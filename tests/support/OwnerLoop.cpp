#include "support/OwnerLoop.h"

namespace mobivert::test {

void OwnerLoop::Post(std::function<void()> call, int delayMs) {
    std::lock_guard lock(mutex_);
    calls_.emplace(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs),
                   std::move(call));
    changed_.notify_all();
}

bool OwnerLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        std::function<void()> call;
        {
            std::unique_lock lock(mutex_);
            auto next = calls_.empty() ? deadline : std::min(deadline, calls_.begin()->first);
            changed_.wait_until(lock, next);
            if (std::chrono::steady_clock::now() >= deadline)
                return done();
            if (calls_.empty() || calls_.begin()->first > std::chrono::steady_clock::now())
                continue;
            call = std::move(calls_.begin()->second);
            calls_.erase(calls_.begin());
        }
        call();
    }
    return true;
}

} // namespace mobivert::test
