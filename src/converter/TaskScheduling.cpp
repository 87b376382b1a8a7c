// Running a batch: starting tasks one after another or several at once, the end report of each
// task and of the batch, and stop, pause and resume.

#include "converter/AVConverter.h"
#include "converter/FFmpegTask.h"

#include "converter/LogRouting.h"
#include "converter/OutputPublishing.h"
#include "converter/WorkerPool.h"
#include "converter/WorkerProcess.h"
#include "engine/session/FFmpegThread.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <thread>
#include <unistd.h>

namespace mobivert::converter {

namespace {
// Synchronous mode starts each task this long after the one before it ended.
constexpr int kNextTaskDelayMs = 100;
} // namespace

// The library log callback takes the process-wide component list before a component's Lock,
// so the pending lines (guarded by that list) are cleared while Lock is not held.
void TCustomAVConverter::StartConvert(int threadCount) {
    ClearPendingLogLines();
    // No waiting task holds files during a batch: each opens its own when its turn comes.
    ParkResident();
    bool runHere = false;
    {
        std::lock_guard lock(lock_);
        batchRunning_ = TaskCount() > 0;
        missingWorkerLogged_ = false;
        nextTask_ = 0;
        finishedCount_ = 0;
        threadCount_ = threadCount;
        pendingCount_ = TaskCount();
        startOrder_ = StartOrder();
        runHere = !Threaded() && !PostToOwner;
        PrepareWorkers();
        for (int k = threadCount; !runHere && pendingCount_ > 0;) {
            StartNextTask();
            if (--k <= 0)
                break;
        }
    }
    if (runHere)
        RunTasksHere();
}

// A synchronous batch without an owner's event loop: the tasks run one after another on the
// calling thread, each 100 ms after the end of the one before, with Lock held only between
// them so that library lines from other threads and stop requests from the handlers go on.
void TCustomAVConverter::RunTasksHere() {
    for (bool first = true;; first = false) {
        int index = -1;
        {
            std::lock_guard lock(lock_);
            if (pendingCount_ <= 0 || destroying_)
                return;
            --pendingCount_;
            index = startOrder_[nextTask_++];
        }
        if (!first)
            std::this_thread::sleep_for(std::chrono::milliseconds(kNextTaskDelayMs));
        StartTask(index);
    }
}

namespace {

// How long the task's source plays (microseconds), -1 when the probe could not tell.
int64_t SourceLength(const TFFmpeg& task) {
    int64_t length = -1;
    if (task.Probe.AudioStreamCount() > 0)
        length = std::max(length, task.Probe.AudioInfo().DurationScaled);
    if (task.Probe.MovingVideoStreamCount() > 0)
        length = std::max(length, task.Probe.VideoInfo().DurationScaled);
    return length;
}

} // namespace

std::vector<int> TCustomAVConverter::StartOrder() {
    std::vector<int> order(static_cast<size_t>(TaskCount()));
    std::iota(order.begin(), order.end(), 0);
    if (threadCount_ < 2)
        return order;
    // With several conversions at once the longest start first, so that the cores are not left
    // idle while one long file converts last; files of unknown length follow in their order.
    std::vector<int64_t> lengths(order.size());
    for (int k : order)
        lengths[static_cast<size_t>(k)] = SourceLength(*Tasks(k));
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return lengths[static_cast<size_t>(a)] > lengths[static_cast<size_t>(b)];
    });
    return order;
}

void TCustomAVConverter::StartNextTask() {
    if (pendingCount_ <= 0)
        return;
    if (!Threaded() && !PostToOwner)
        return; // RunTasksHere starts it when the task before has returned
    --pendingCount_;
    int index = startOrder_[nextTask_++];
    if (Threaded())
        StartTask(index);
    else
        PostToOwner([this, index] { StartTask(index); }, kNextTaskDelayMs);
}

void TCustomAVConverter::StartTask(int index) {
    TFFmpeg* task = Tasks(index);
    if (!task)
        return;
    task->ProgressInterval = static_cast<int64_t>(progressInterval_) * 1000;
    task->Verbose = VerbosityOf(logLevel_);
    // Automatic codec threads share the cores among the conversions that run at once.
    task->ConcurrentRuns = Threaded() ? std::max(1, std::min(threadCount_, TaskCount())) : 1;
    task->WorkerProgram = WorkerProgramFor(*task);
    task->Workers = task->WorkerProgram.empty() ? nullptr : workers_;
    task->WorkerSettings.LibraryDirectory = libraryDirectory_;
    task->WorkerSettings.VersionedNames = versionedNames_;
    task->WorkerSettings.LogLevel = static_cast<int>(logLevel_);
    task->WorkerSettings.ProgressIntervalMs = progressInterval_;
    if (task->OwnerConcurrentRuns > 0)
        task->ConcurrentRuns = task->OwnerConcurrentRuns;
    task->WorkerSettings.ConcurrentRuns = task->ConcurrentRuns;
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
    bool batchEnded = false;
    TFFmpeg& task = static_cast<TFFmpeg&>(engine);
    // Checked, and published or removed, before anyone hears of the end. Outside Lock: reading
    // the output back takes the codec lock, which a run opening a codec holds while its library
    // lines wait for Lock.
    FinishTaskOutput(task);
    {
        std::lock_guard lock(lock_);
        if (destroying_)
            return;
        // A completed run's message tells what differs from what was asked.
        const bool completed = engine.Finished && !engine.Failed;
        if (OnTerminate)
            OnTerminate(task.Index, engine.Finished, engine.Failed,
                        completed ? task.Warnings : engine.ErrorMessage);
        ++finishedCount_;
        if (pendingCount_ > 0) {
            StartNextTask();
        } else if (finishedCount_ >= TaskCount()) {
            if (OnTerminate)
                OnTerminate(-1, true, false, "");
            batchEnded = true;
            batchRunning_ = false;
        }
    }
    if (batchEnded)
        ClearPendingLogLines();
}

std::string TCustomAVConverter::BatchWorkerProgram() const {
    std::string program = WorkerProgram.empty() ? DefaultWorkerProgram() : WorkerProgram;
    return RunInWorkers && program != "none" ? program : std::string();
}

void TCustomAVConverter::PrepareWorkers() {
    workers_.reset();
    const std::string program = BatchWorkerProgram();
    if (program.empty() || !IsExecutable(program) || TaskCount() == 0)
        return;
    workers_ = std::make_shared<TWorkerPool>(program, libraryDirectory_, versionedNames_);
    // One for each conversion at once, loading the libraries while the first tasks start.
    workers_->StartAhead(std::max(1, std::min(threadCount_, TaskCount())));
}

std::vector<pid_t> TCustomAVConverter::WorkerPids() {
    std::lock_guard lock(lock_);
    return workers_ ? workers_->Pids() : std::vector<pid_t>{};
}

std::string TCustomAVConverter::WorkerProgramFor(TFFmpeg& task) {
    // Frame callbacks into the application can only run in its own process.
    bool callsBack =
        task.HasOutputRecord && (task.OutputOptions.CustomHook || task.OutputOptions.BeforeHook);
    if (callsBack)
        return {};
    std::string program = BatchWorkerProgram();
    if (program.empty())
        return {};
    if (IsExecutable(program))
        return program;
    if (!missingWorkerLogged_) {
        missingWorkerLogged_ = true;
        EngineLog(&task, 0,
                  "The worker program " + program +
                      " is missing: conversions run inside this program, where a library "
                      "fault ends the whole batch");
    }
    return {};
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
