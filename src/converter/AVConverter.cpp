#include "converter/AVConverter.h"
#include "converter/FFmpegTask.h"
#include "converter/WorkerPool.h"

#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "converter/LogRouting.h"
#include "converter/OutputPublishing.h"
#include "converter/RecordApplying.h"
#include "engine/open/InputView.h"

#include <filesystem>

namespace mobivert::converter {

using engine::TCustomFFmpeg;

TLogLevel MapLogLevel(int level) {
    if (level < 0)
        return llQuiet;
    if (level >= 4)
        return llAll;
    return static_cast<TLogLevel>(level + kLogLevelShift);
}

TCustomAVConverter::TCustomAVConverter() {
    RegisterComponent(this);
}

TCustomAVConverter::~TCustomAVConverter() {
    ReleaseAll();
}

void TCustomAVConverter::ReleaseAll() {
    UnregisterComponent(this);
    {
        // A handler still running on another thread finishes first; from now on no task starts
        // and no event reaches the owner, who is going away.
        std::lock_guard lock(lock_);
        pendingCount_ = 0;
        destroying_ = true;
    }
    TFFmpegList doomed;
    {
        std::lock_guard lock(tasksMutex_);
        doomed = std::move(tasks_);
    }
    // Each task stops its own run and waits for its threads as it goes.
    doomed.Clear();
}

bool TCustomAVConverter::LoadAVLib(const std::string& directory, bool versioned) {
    if (!binding::LoadAVLibs(directory, versioned)) {
        lastError_ = binding::AVLibsLastError();
        return false;
    }
    libraryDirectory_ = directory;
    versionedNames_ = versioned;
    InstallLibraryLogCallback();
    av::av_log_set_level(VerbosityOf(logLevel_));
    binding::RefreshCachedLogLevel();
    return true;
}

void TCustomAVConverter::SetLogLevel(TLogLevel level) {
    logLevel_ = level;
    if (binding::AVLibsLoaded()) {
        av::av_log_set_level(VerbosityOf(level));
        binding::RefreshCachedLogLevel();
    }
}

void TCustomAVConverter::SetProgressInterval(int milliseconds) {
    progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

void TCustomAVConverter::SetKnownInput(const std::string& fileName, const std::string& view) {
    knownInputFile_ = fileName;
    knownInputView_ = view;
}

void TCustomAVConverter::PassOnKnownInput(TFFmpeg& task, const std::string& fileName,
                                          const TInputOptions* options) {
    // The probe opens a file without options; what it found holds for a task only when the
    // task opens the file the same way.
    const bool plain =
        !options || (options->FileFormat.empty() && options->ExtOptions.empty() &&
                     options->OverrideOptions.empty() && options->ProgramNumber == -1);
    if (plain && probe_.FormatContext() && probe_.FileName() == fileName) {
        task.KnownInputFile = fileName;
        task.KnownInputView = engine::InputView(probe_.FormatContext());
    } else if (!knownInputView_.empty() && knownInputFile_ == fileName) {
        task.KnownInputFile = fileName;
        task.KnownInputView = knownInputView_;
    }
}

std::unique_ptr<TFFmpeg> TCustomAVConverter::NewTask(const std::string& fileName,
                                                     const TInputOptions* options) {
    auto task = std::make_unique<TFFmpeg>();
    TFFmpeg* raw = task.get();
    task->OnLog = [this, raw](TCustomFFmpeg&, int level, const std::string& text) {
        EngineLog(raw, level, text);
    };
    task->InitSession();
    task->Verbose = VerbosityOf(logLevel_);
    task->InputFileName = fileName;
    task->HasInputRecord = options != nullptr;
    if (options) {
        task->InputOptions = *options;
        if (task->InputOptions.FileName.empty())
            task->InputOptions.FileName = fileName;
    } else {
        task->InputOptions = TInputOptions{};
    }
    PassOnKnownInput(*task, fileName, options);
    task->OnProgress = [this](TCustomFFmpeg& engine, int32_t frame, int32_t fps, int32_t timeMs,
                              float quality, float bitRate, int64_t size, int32_t totalMs) {
        EngineProgress(engine, frame, fps, timeMs, quality, bitRate, size, totalMs);
    };
    task->OnTerminate = [this](TCustomFFmpeg& engine) { EngineTerminate(engine); };
    return task;
}

int TCustomAVConverter::AddInputFile(const std::string& fileName, const TInputOptions* options) {
    std::unique_ptr<TFFmpeg> task;
    try {
        task = NewTask(fileName, options);
        if (!task->OpenInputFromRecord()) {
            task->OnLog = nullptr;
            lastError_ = task->SetupError;
            return -1;
        }
        task->Probe.Attach(task->InputFiles[task->InputFileCount - 1]);
    } catch (const std::exception& e) {
        if (task)
            task->OnLog = nullptr;
        lastError_ = e.what();
        return -1;
    }
    TFFmpeg* raw = task.get();
    std::lock_guard lock(tasksMutex_);
    int index = tasks_.Add(std::move(task));
    MakeResident(raw);
    return index;
}

int TCustomAVConverter::AddCheckedTask(const std::string& inputFileName, const TInputOptions* input,
                                       const std::string& outputFileName,
                                       const TOutputOptions* output) {
    std::unique_ptr<TFFmpeg> task;
    try {
        task = NewTask(inputFileName, input);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return -1;
    }
    task->OutputFileName = outputFileName;
    task->OutputName = outputFileName;
    task->HasOutputRecord = output != nullptr;
    if (output) {
        task->OutputOptions = *output;
        if (task->OutputOptions.FileName.empty())
            task->OutputOptions.FileName = outputFileName;
        ConnectHooks(*task, task->OutputOptions);
    }
    task->OutputReady = true;
    std::lock_guard lock(tasksMutex_);
    return tasks_.Add(std::move(task));
}

void TCustomAVConverter::MakeResident(TFFmpeg* task) {
    std::lock_guard lock(tasksMutex_);
    if (resident_ && resident_ != task)
        resident_->Park();
    resident_ = task;
}

void TCustomAVConverter::ParkResident() {
    std::lock_guard lock(tasksMutex_);
    if (resident_)
        resident_->Park();
    resident_ = nullptr;
}

bool TCustomAVConverter::ReopenInput(TFFmpeg& task) {
    if (!task.OpenInputFromRecord()) {
        task.Park();
        return false;
    }
    task.Probe.Attach(task.InputFiles[task.InputFileCount - 1]);
    MakeResident(&task);
    return true;
}

void TCustomAVConverter::ConnectHooks(TFFmpeg& task, const TOutputOptions& options) {
    if (options.CustomHook) {
        task.OnCustomHook = [this](TCustomFFmpeg& engine, TBitmap* bitmap, int32_t frame,
                                   int64_t pts, bool& update, bool& stop) {
            EngineCustomHook(engine, bitmap, frame, pts, update, stop);
        };
    } else if (options.BeforeHook) {
        task.OnBeforeHook = [this](TCustomFFmpeg& engine, THookAction& action, int64_t pts) {
            EngineBeforeHook(engine, action, pts);
        };
    }
}

bool TCustomAVConverter::SetOutputFile(int index, const std::string& fileName,
                                       const TOutputOptions* options) {
    TFFmpeg* task = Tasks(index);
    if (!task) {
        lastError_ = "Invalid task index " + std::to_string(index);
        return false;
    }
    try {
        task->OutputReady = false;
        task->OutputFileName = fileName;
        task->HasOutputRecord = options != nullptr;
        if (options) {
            task->OutputOptions = *options;
            if (task->OutputOptions.FileName.empty())
                task->OutputOptions.FileName = fileName;
            ConnectHooks(*task, task->OutputOptions);
        } else {
            task->OutputOptions = TOutputOptions{};
        }
        // The output is checked on the task's own opened input, as the run will see it.
        if ((!task->Resident() || task->OutputFileCount > 0) && !ReopenInput(*task)) {
            lastError_ = task->SetupError;
            DropWorkFile(*task);
            return false;
        }
        MakeResident(task);
        task->OutputName = fileName;
        task->PublishesOutput = false;
        if (PublishOutputs && !PrepareWorkFile(*task, fileName, lastError_))
            return false;
        // A published output is checked through a work file made for the check, and its run
        // writes through one made at its turn, in the container the final name asks for.
        task->OutputFileName = task->PublishesOutput ? task->PartName : fileName;
        if (task->PublishesOutput && task->ForcedOutputFormat)
            task->OutputFormatName = task->ForcedOutputFormat->name;
        std::error_code ec;
        bool existed = std::filesystem::exists(task->OutputFileName, ec);
        if (!task->OpenOutputFromRecord()) {
            lastError_ = task->SetupError;
            DropWorkFile(*task);
            return false;
        }
        task->Expected = ExpectedOutput(*task, task->InputStartUs);
        task->ForgetCheckedOutput(existed);
        // A waiting task leaves no file behind.
        DropWorkFile(*task);
        task->OutputReady = true;
        return true;
    } catch (const std::exception& e) {
        lastError_ = e.what();
        DropWorkFile(*task);
        return false;
    }
}

// Freeing a task waits for its threads, and a task's end report takes Lock and then the task
// list: the tasks are taken out under the locks and freed after both are released, as the
// destructor does, so that a worker still reporting its end is never waited for by a holder.
void TCustomAVConverter::ClearTasks() {
    TFFmpegList doomed;
    {
        std::lock_guard lock(lock_);
        std::lock_guard tasksLock(tasksMutex_);
        resident_ = nullptr;
        doomed = std::move(tasks_);
        tasks_ = TFFmpegList{};
        // A late end report of a cleared task must not start a task of the next list.
        pendingCount_ = 0;
        threadCount_ = 0;
    }
    lastError_.clear();
    doomed.Clear();
}

void TCustomAVConverter::RemoveTask(int index) {
    RemoveTasks({index});
}

void TCustomAVConverter::RemoveTasks(const std::vector<int>& indexes) {
    // Freed when this returns, after the locks are released: freeing waits for the tasks' threads.
    std::vector<std::unique_ptr<TFFmpeg>> doomed;
    std::lock_guard lock(lock_);
    std::lock_guard tasksLock(tasksMutex_);
    doomed = tasks_.TakeMany(indexes);
    for (const std::unique_ptr<TFFmpeg>& task : doomed)
        if (task.get() == resident_)
            resident_ = nullptr;
}

int TCustomAVConverter::TaskCount() const {
    std::lock_guard lock(tasksMutex_);
    return tasks_.Count();
}

TFFmpeg* TCustomAVConverter::Tasks(int index) const {
    std::lock_guard lock(tasksMutex_);
    return tasks_[index];
}

AVFormatContext* TCustomAVConverter::TaskInputContext(int index) {
    TFFmpeg* task = Tasks(index);
    if (!task)
        return nullptr;
    // A waiting task released its input after set-up: it is opened again to be looked at
    // (outside a batch only, when no run can be opening it at the same time).
    bool waiting = !task->Resident() && !task->Running && !task->Terminated;
    if (waiting && !batchRunning_) {
        try {
            ReopenInput(*task);
        } catch (const std::exception&) {
            task->Park();
        }
    }
    return task->InputFileCount > 0 ? task->InputFiles[0] : nullptr;
}

std::optional<TTaskStatus> TCustomAVConverter::TaskStatus(int index) const {
    const TFFmpeg* task = Tasks(index);
    if (!task)
        return std::nullopt;
    TTaskStatus status;
    status.Finished = task->Finished;
    status.Failed = task->Failed;
    status.Warnings = task->Warnings;
    status.PublishedName = task->PublishedName;
    status.PartialOutput = task->PartialOutput;
    status.PartName = task->PartName;
    return status;
}

const TAVProbe* TCustomAVConverter::TaskProbe(int index) const {
    const TFFmpeg* task = Tasks(index);
    return task ? &task->Probe : nullptr;
}

void TCustomAVConverter::TaskLog(int index, int level, const std::string& text) {
    if (TFFmpeg* task = Tasks(index))
        task->Log(level, text);
}

std::string TCustomAVConverter::TaskSourceName(int index) {
    const AVFormatContext* input = TaskInputContext(index);
    return input && input->url ? input->url : std::string();
}

TFFmpeg* TCustomAVConverter::FindTaskByThread(pid_t threadId) const {
    std::lock_guard lock(tasksMutex_);
    return tasks_.FindByThreadID(threadId);
}

void TCustomAVConverter::EngineBeforeHook(TCustomFFmpeg& engine, THookAction& action, int64_t pts) {
    if (OnBeforeHook)
        OnBeforeHook(static_cast<TFFmpeg&>(engine).Index, pts, action);
}

void TCustomAVConverter::EngineCustomHook(TCustomFFmpeg& engine, TBitmap* bitmap,
                                          int32_t frameNumber, int64_t pts, bool& update,
                                          bool& stop) {
    if (OnCustomHook)
        OnCustomHook(static_cast<TFFmpeg&>(engine).Index, bitmap, frameNumber, pts, update, stop);
}

void TCustomAVConverter::EngineLog(TFFmpeg* task, int level, const std::string& text) {
    std::lock_guard lock(lock_);
    if (OnLog && !destroying_)
        OnLog(task ? task->Index : -1, MapLogLevel(level), text);
}

void TCustomAVConverter::EngineProgress(TCustomFFmpeg& engine, int32_t frameNumber, int32_t fps,
                                        int32_t currentDurationMs, float quality, float bitRate,
                                        int64_t currentSize, int32_t totalDurationMs) {
    std::lock_guard lock(lock_);
    if (OnProgress && !destroying_)
        OnProgress(static_cast<TFFmpeg&>(engine).Index, frameNumber, fps, currentDurationMs,
                   quality, bitRate, currentSize, totalDurationMs);
}

} // namespace mobivert::converter
