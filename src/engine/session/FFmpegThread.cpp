#include "engine/session/FFmpegThread.h"

#include "engine/session/FFmpeg.h"

#include <thread>
#include <unistd.h>

namespace mobivert::engine {

TFFmpegThread::TFFmpegThread(TCustomFFmpeg& session, TThreadPriority priority) : session_(session) {
    SessionThreadsPtr threads = session.Threads;
    threads->Enter();
    std::thread([this, priority, threads] {
        threads->BindCurrentThread();
        Body(priority);
        threads->Leave();
    }).detach();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return idKnown_; });
}

void TFFmpegThread::Resume() {
    std::lock_guard lock(mutex_);
    resumed_ = true;
    changed_.notify_all();
}

void TFFmpegThread::Body(TThreadPriority priority) {
    {
        std::unique_lock lock(mutex_);
        threadId_ = gettid();
        idKnown_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return resumed_; });
    }
    ScheduleCurrentThreadAsBatchWork();
    ApplyToCurrentThread(priority);
    session_.RunTranscode();
    delete this;
}

void TDoTerminateThread::Start(TCustomFFmpeg& session) {
    SessionThreadsPtr threads = session.Threads;
    threads->Enter();
    std::thread([&session, threads] {
        threads->BindCurrentThread();
        ApplyToCurrentThread(tpIdle);
        session.DoTerminate();
        threads->Leave();
    }).detach();
}

} // namespace mobivert::engine
