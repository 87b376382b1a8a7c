#pragma once
// The converter component: the one object through which an application drives conversions.
// It owns a list of tasks (one engine session each), turns option records into engine options,
// runs the tasks on worker threads and reports log lines, progress, frame hooks and the end of
// every task and of the batch as events carrying the task's index.

#include "converter/AVProbe.h"
#include "converter/ConverterTypes.h"
#include "converter/FrameHook.h"
#include "converter/OptionRecords.h"
#include "converter/TaskList.h"
#include "converter/TaskStatus.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace mobivert::engine {
class TCustomFFmpeg;
}

namespace mobivert::converter {

class TWorkerPool;

class TCustomAVConverter {
public:
    TCustomAVConverter();
    virtual ~TCustomAVConverter();
    TCustomAVConverter(const TCustomAVConverter&) = delete;
    TCustomAVConverter& operator=(const TCustomAVConverter&) = delete;

    bool LoadAVLib(const std::string& directory, bool versioned);
    int AddInputFile(const std::string& fileName, const TInputOptions* options = nullptr);
    bool SetOutputFile(int index, const std::string& fileName,
                       const TOutputOptions* options = nullptr);
    // A task whose input and output were checked already (by the process that hands it over):
    // nothing is opened until it runs, and a file that no longer opens then fails that run
    // with the opener's message. Its index, or -1 with LastError set.
    int AddCheckedTask(const std::string& inputFileName, const TInputOptions* input,
                       const std::string& outputFileName, const TOutputOptions* output);
    // Threaded with threadCount >= 1 (that many tasks at once); synchronous otherwise.
    void StartConvert(int threadCount);
    void StopConvert();
    void PauseConvert();
    void ResumeConvert();
    void ClearTasks();
    void RemoveTask(int index);
    // Removes the tasks at the indexes (any order) in one pass; the tasks after them move down.
    void RemoveTasks(const std::vector<int>& indexes);
    int TaskCount() const;
    TFFmpeg* Tasks(int index) const;
    // The task's state and outputs as its owner reads them; none for an index without a task.
    std::optional<TTaskStatus> TaskStatus(int index) const;
    // What the probe of the task's input found; null for an index without a task.
    const TAVProbe* TaskProbe(int index) const;
    // A line in the task's log, as the task's own lines are reported.
    void TaskLog(int index, int level, const std::string& text);
    // The file name the task's input was opened with (what TaskInputContext's url holds).
    std::string TaskSourceName(int index);
    // A waiting task opens its input again for this, and the one looked at before releases it.
    AVFormatContext* TaskInputContext(int index);
    std::string LastError() const { return lastError_; }
    TAVProbe& Probe() { return probe_; }
    // What an earlier full opening of fileName found (an InputView), passed on by the owner that
    // made it (a worker's converter, say): the task for that file opens it with a small probe.
    void SetKnownInput(const std::string& fileName, const std::string& view);

    // Properties.
    std::string About;
    TLogLevel LogLevel() const { return logLevel_; }
    void SetLogLevel(TLogLevel level);
    int ProgressInterval() const { return progressInterval_; }
    void SetProgressInterval(int milliseconds);
    TConvertPriority ThreadPriority = tpNormal;
    // Outputs are written under hidden work names and take the names given to SetOutputFile
    // only when complete (see OutputPublishing.h); the name they got is the task's
    // PublishedName when its end is reported.
    bool PublishOutputs = false;
    static const char* Version() { return "2.2"; }

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

    // Each task's transcode runs in a worker process (the program WorkerProgram names, or
    // DefaultWorkerProgram() when it is empty), so that a library abort ends that task only.
    // Tasks that ask for the before-hook or custom hook events run in this process, as every
    // task does when RunInWorkers is false or the program is missing (said once in the log).
    bool RunInWorkers = true;
    std::string WorkerProgram;
    // The process ids of the batch's pre-loaded workers, idle and busy.
    std::vector<pid_t> WorkerPids();

    // Synchronous mode runs each task from the owner's thread, 100 ms after the previous one
    // ended: the owner supplies how a call is posted to its thread after a delay.
    std::function<void(std::function<void()> call, int delayMs)> PostToOwner;

    // Handlers connected to every task's engine events.
    virtual void EngineBeforeHook(engine::TCustomFFmpeg& engine, THookAction& action, int64_t pts);
    virtual void EngineCustomHook(engine::TCustomFFmpeg& engine, TBitmap* bitmap,
                                  int32_t frameNumber, int64_t pts, bool& update, bool& stop);
    virtual void EngineLog(TFFmpeg* task, int level, const std::string& text);
    virtual void EngineProgress(engine::TCustomFFmpeg& engine, int32_t frameNumber, int32_t fps,
                                int32_t currentDurationMs, float quality, float bitRate,
                                int64_t currentSize, int32_t totalDurationMs);
    virtual void EngineTerminate(engine::TCustomFFmpeg& engine);

    // The task running on the given kernel thread, if any (for the library log routing).
    TFFmpeg* FindTaskByThread(pid_t threadId) const;

protected:
    // Stops every task and waits for its threads, once no event can reach the owner any more.
    // The most derived class calls it first thing in its destructor: a worker still raising an
    // event calls the handlers through the object's virtual table, which the destructors of
    // the classes below it change.
    void ReleaseAll();

private:
    void ConnectHooks(TFFmpeg& task, const TOutputOptions& options);
    // A new task with its input's record and the component's handlers, nothing opened.
    std::unique_ptr<TFFmpeg> NewTask(const std::string& fileName, const TInputOptions* options);
    // Opens a waiting task's input again for set-up or inspection; false with SetupError set.
    bool ReopenInput(TFFmpeg& task);
    // The task now holds its opened files while it waits; the one that held them before
    // releases them, so waiting tasks cost nothing however many there are.
    void MakeResident(TFFmpeg* task);
    void PassOnKnownInput(TFFmpeg& task, const std::string& fileName, const TInputOptions* options);
    void ParkResident();
    // The worker program for the task's run, empty to run it in this process.
    std::string WorkerProgramFor(TFFmpeg& task);
    // The worker program tasks run in, empty when they run in this process.
    std::string BatchWorkerProgram() const;
    // Pre-loaded workers for the batch's tasks, when they run in workers.
    void PrepareWorkers();
    // The order the batch's tasks start in.
    std::vector<int> StartOrder();
    void StartNextTask();
    void RunTasksHere();
    void StartTask(int index);
    bool Threaded() const { return threadCount_ >= 1; }

    std::string lastError_;
    int nextTask_ = -1;
    // The tasks of the running batch in the order they start.
    std::vector<int> startOrder_;
    int threadCount_ = 0;
    TLogLevel logLevel_ = llInfo;
    int progressInterval_ = 500;
    TAVProbe probe_;
    std::string knownInputFile_;
    std::string knownInputView_;
    TFFmpegList tasks_;
    mutable std::recursive_mutex tasksMutex_;
    std::recursive_mutex lock_;
    int finishedCount_ = 0;
    int pendingCount_ = 0;
    bool destroying_ = false;
    std::atomic<bool> batchRunning_{false};
    TFFmpeg* resident_ = nullptr; // guarded by tasksMutex_
    std::string libraryDirectory_;
    bool versionedNames_ = true;
    bool missingWorkerLogged_ = false;
    // The batch's pre-loaded workers (started with the batch, each replaced when it has gone).
    std::shared_ptr<TWorkerPool> workers_;
};

class TAVConverter : public TCustomAVConverter {
public:
    TAVConverter() = default;
    ~TAVConverter() override { ReleaseAll(); }
};

} // namespace mobivert::converter
