#pragma once
// The worker that runs one session's transcode, and the short-lived thread that reports the end
// of a session that never started.

#include "engine/session/ThreadPriority.h"

#include <condition_variable>
#include <mutex>
#include <sys/types.h>

namespace mobivert::engine {

class TCustomFFmpeg;

// Created held: the thread exists (and its kernel id is known) but does not run the session
// until Resume. It frees itself when its body ends.
class TFFmpegThread {
public:
    TFFmpegThread(TCustomFFmpeg& session, TThreadPriority priority);
    TFFmpegThread(const TFFmpegThread&) = delete;
    TFFmpegThread& operator=(const TFFmpegThread&) = delete;

    void Resume();
    pid_t ThreadID() const { return threadId_; }

private:
    ~TFFmpegThread() = default;
    void Body(TThreadPriority priority);

    TCustomFFmpeg& session_;
    pid_t threadId_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool idKnown_ = false;
    bool resumed_ = false;
};

// Raises the session's end report from a thread of its own, at idle priority.
class TDoTerminateThread {
public:
    static void Start(TCustomFFmpeg& session);
};

} // namespace mobivert::engine
