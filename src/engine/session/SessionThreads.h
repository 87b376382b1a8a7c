#pragma once
// Counts the threads that may still touch a session (its worker, its end reporters), so that the
// session is never freed under one of them. Shared with those threads, so a thread can leave
// even when the session itself was destroyed by its own end report.

#include <condition_variable>
#include <memory>
#include <mutex>

namespace mobivert::engine {

class SessionThreads {
public:
    void Enter();
    void Leave();
    // Waits until no thread but (possibly) the calling one is left.
    void WaitForOthers();
    // Marks the calling thread as one of the session's own for as long as it runs it.
    void BindCurrentThread();
    bool CurrentThreadIsOwn() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

using SessionThreadsPtr = std::shared_ptr<SessionThreads>;

} // namespace mobivert::engine
