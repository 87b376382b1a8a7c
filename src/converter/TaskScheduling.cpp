// Running a batch: starting tasks one after another or several at once, the end report of each
// task and of the batch, and stop, pause and resume.

#include "converter/AVConverter.h"
#include "converter/LogRouting.h"
#include "engine/FFmpegThread.h"

#include <unistd.h>

namespace mobivert::converter {

void TCustomAVConverter::StartConvert(int threadCount) {
    std::lock_guard lock(lock_);
    ClearPendingLogLines();
    nextTask_ = 0;
    finishedCount_ = 0;
    threadCount_ = threadCount;
    pendingCount_ = TaskCount();
    for (int k = threadCount; pendingCount_ > 0;) {
        StartNextTask();
        if (--k <= 0)
            break;
    }
}

void TCustomAVConverter::StartNextTask() {
    if (pendingCount_ <= 0)
        return;
    --pendingCount_;
    int index = nextTask_++;
    if (Threaded()) {
        StartTask(index);
    } else if (PostToOwner) {
        PostToOwner([this, index] { StartTask(index); }, 100);
    } else {
        StartTask(index);
    }
}

void TCustomAVConverter::StartTask(int index) {
    TFFmpeg* task = Tasks(index);
    if (!task)
        return;
    task->ProgressInterval = static_cast<int64_t>(progressInterval_) * 1000;
    task->Verbose = static_cast<int>(logLevel_) - 1;
    if (Threaded()) {
        engine::TFFmpegThread* worker = task->StartConvert(true, ThreadPriority);
        if (worker) {
            // Known before the worker runs, so every library line of the run finds its task.
            task->ThreadID = worker->ThreadID();
            worker->Resume();
        } else {
            task->ThreadID = 0;
        }
    } else {
        task->ThreadID = gettid();
        task->StartConvert(false, ThreadPriority);
    }
}

void TCustomAVConverter::EngineTerminate(engine::TCustomFFmpeg& engine) {
    std::lock_guard lock(lock_);
    if (destroying_)
        return;
    if (OnTerminate)
        OnTerminate(static_cast<TFFmpeg&>(engine).Index, engine.Finished, engine.Failed,
                    engine.ErrorMessage);
    ++finishedCount_;
    if (pendingCount_ > 0) {
        StartNextTask();
    } else if (finishedCount_ >= TaskCount()) {
        if (OnTerminate)
            OnTerminate(-1, true, false, "");
        ClearPendingLogLines();
    }
}

void TCustomAVConverter::StopConvert() {
    std::lock_guard lock(lock_);
    pendingCount_ = 0;
    for (int i = 0; i < TaskCount(); ++i)
        Tasks(i)->StopConvert();
}

void TCustomAVConverter::PauseConvert() {
    std::lock_guard lock(lock_);
    for (int i = 0; i < TaskCount(); ++i) {
        TFFmpeg* task = Tasks(i);
        if (task->WorkerThread && !task->Paused())
            task->PauseConvert();
    }
}

void TCustomAVConverter::ResumeConvert() {
    std::lock_guard lock(lock_);
    for (int i = 0; i < TaskCount(); ++i) {
        TFFmpeg* task = Tasks(i);
        if (task->Paused())
            task->ResumeConvert();
    }
}

} // namespace mobivert::converter
