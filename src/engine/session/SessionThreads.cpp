#include "engine/session/SessionThreads.h"

namespace mobivert::engine {

namespace {
thread_local const SessionThreads* boundTo = nullptr;
}

void SessionThreads::Enter() {
    std::lock_guard lock(mutex_);
    ++count_;
}

void SessionThreads::Leave() {
    std::lock_guard lock(mutex_);
    --count_;
    if (boundTo == this)
        boundTo = nullptr;
    changed_.notify_all();
}

void SessionThreads::BindCurrentThread() {
    boundTo = this;
}

bool SessionThreads::CurrentThreadIsOwn() const {
    return boundTo == this;
}

void SessionThreads::WaitForOthers() {
    int own = CurrentThreadIsOwn() ? 1 : 0;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return count_ <= own; });
}

} // namespace mobivert::engine
