#include "converter/AVConverter.h"

#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "converter/LogRouting.h"
#include "converter/OutputPublishing.h"

namespace mobivert::converter {

using engine::TCustomFFmpeg;

TLogLevel MapLogLevel(int level) {
    if (level < 0)
        return llQuiet;
    if (level >= 4)
        return llAll;
    return static_cast<TLogLevel>(level + 1);
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
    InstallLibraryLogCallback();
    av::av_log_set_level(static_cast<int>(logLevel_) - 1);
    binding::RefreshCachedLogLevel();
    return true;
}

void TCustomAVConverter::SetLogLevel(TLogLevel level) {
    logLevel_ = level;
    if (binding::AVLibsLoaded()) {
        av::av_log_set_level(static_cast<int>(level) - 1);
        binding::RefreshCachedLogLevel();
    }
}

void TCustomAVConverter::SetProgressInterval(int milliseconds) {
    progressInterval_ = milliseconds <= 100 ? 100 : milliseconds;
}

void TCustomAVConverter::ApplyInputOptions(TFFmpeg& task, const TInputOptions& options) {
    task.ApplyOptionText(options.ExtOptions);
    task.SetInputFormat(options.FileFormat);
    if (static_cast<int64_t>(options.StartTime) * 1000 > 0)
        task.SetStartTimeUs(static_cast<int64_t>(options.StartTime) * 1000);
    task.SetProgramId(options.ProgramNumber);
    task.ApplyOptionText(options.OverrideOptions);
}

int TCustomAVConverter::AddInputFile(const std::string& fileName, const TInputOptions* options) {
    auto task = std::make_unique<TFFmpeg>();
    TFFmpeg* raw = task.get();
    try {
        task->OnLog = [this, raw](TCustomFFmpeg&, int level, const std::string& text) {
            EngineLog(raw, level, text);
        };
        task->InitSession();
        task->Verbose = static_cast<int>(logLevel_) - 1;
        if (options) {
            task->InputOptions = *options;
            if (task->InputOptions.FileName.empty())
                task->InputOptions.FileName = fileName;
            ApplyInputOptions(*task, task->InputOptions);
        } else {
            task->InputOptions = TInputOptions{};
        }
        task->InputStartUs = task->StartTime;
        if (!task->OpenInputFile(fileName)) {
            task->OnLog = nullptr;
            lastError_ = task->SetupError;
            return -1;
        }
        task->Probe.Attach(task->InputFiles[task->InputFileCount - 1]);
        task->OnProgress = [this](TCustomFFmpeg& engine, int32_t frame, int32_t fps, int32_t timeMs,
                                  float quality, float bitRate, int64_t size, int32_t totalMs) {
            EngineProgress(engine, frame, fps, timeMs, quality, bitRate, size, totalMs);
        };
        task->OnTerminate = [this](TCustomFFmpeg& engine) { EngineTerminate(engine); };
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return -1;
    }
    std::lock_guard lock(tasksMutex_);
    return tasks_.Add(std::move(task));
}

namespace {

std::string Limited(const std::string& text, size_t characters) {
    return text.substr(0, std::min(text.find('\0'), characters));
}

} // namespace

void TCustomAVConverter::ApplyOutputOptions(TFFmpeg& task, const TOutputOptions& o) {
    auto generic = [&task](const char* name, int32_t value) {
        if (value > 0)
            task.SetGenericOptionInt(name, value);
    };
    task.ApplyOptionText(o.ExtOptions);
    task.SetOutputFormat(o.FileFormat);
    generic("packetsize", o.PacketSize);
    generic("muxrate", o.MuxRate);
    task.SetMuxMaxDelay(o.MuxDelay);
    task.SetMuxPreload(o.MuxPreload);
    task.SetAudioCodec(o.AudioCodec);
    if (o.DisableAudio)
        task.AudioDisable = 1;
    task.SetAudioVolume(o.AudioVolume);
    task.SetAudioChannels(o.AudioChannels);
    task.SetAudioSampleRate(o.AudioSampleRate);
    if (o.AudioChannels > 0 && o.AudioChannelsDerived)
        task.AudioChannelsDerived = true;
    if (o.AudioSampleRate > 0 && o.AudioSampleRateDerived)
        task.AudioSampleRateDerived = true;
    generic("ab", o.AudioBitRate);
    if (o.AudioBitRate > 0)
        task.AudioBitRateDerived = o.AudioBitRateDerived;
    generic("abt", o.AudioBitRateTolerance);
    task.AudioLanguage = o.AudioLanguage;
    task.SetAudioSyncMethod(o.AudioSync);
    task.SetAudioTag(o.AudioTag);
    task.SetVideoCodec(o.VideoCodec);
    if (o.DisableVideo)
        task.VideoDisable = 1;
    task.SetFrameRate(o.FrameRate);
    task.SetFrameSize(o.FrameSize);
    if (!o.FrameSize.empty() && o.FrameSizeDerived)
        task.FrameSizeDerived = true;
    task.SetFrameAspectRatio(o.FrameAspect);
    task.SetFrameCropTop(o.CropTop);
    task.SetFrameCropBottom(o.CropBottom);
    task.SetFrameCropLeft(o.CropLeft);
    task.SetFrameCropRight(o.CropRight);
    task.SetFramePadTop(o.PadTop);
    task.SetFramePadBottom(o.PadBottom);
    task.SetFramePadLeft(o.PadLeft);
    task.SetFramePadRight(o.PadRight);
    task.SetPadColor(static_cast<int32_t>(o.PadColor & 0xFFFFFF));
    generic("gop", o.GopSize);
    generic("vb", o.VideoBitRate);
    generic("maxrate", o.VideoMaxRate);
    generic("minrate", o.VideoMinRate);
    generic("bt", o.VideoBitRateTolerance);
    generic("bufsize", o.VideoBufSize);
    task.SetVideoSyncMethod(o.VideoSync);
    task.SetVideoTag(o.VideoTag);
    task.SetVideoFilters(o.VideoFilters);
    if (o.DisableSubtitle)
        task.SubtitleDisable = 1;
    task.SubtitleLanguage = o.SubtitleLanguage;
    task.CopyTs = o.CopyTimestamps;
    task.SetRecordingTimeMs(o.Duration);
    if (o.Timestamp >= 0.0)
        task.RecTimestamp = TimestampToUnixSeconds(o.Timestamp);
    task.SetMetaYear(o.Year);
    task.SetMetaTrack(o.Track);
    task.SetMetaTitle(Limited(o.Title, 511));
    task.SetMetaAuthor(Limited(o.Author, 511));
    task.SetMetaCopyright(Limited(o.Copyright, 511));
    task.SetMetaComment(Limited(o.Comment, 511));
    task.SetMetaAlbum(Limited(o.Album, 511));
    task.SetMetaGenre(Limited(o.Genre, 31));
    if (o.Target >= 1 && o.Target <= 3)
        task.SetTarget(TargetName(o.Target), TargetNormName(o.TargetNorm),
                       TargetFallbackNormName(o.TargetFallbackNorm));
    task.ApplyOptionText(o.OverrideOptions);
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
    } else {
        task.SetHookTimeRanges(ParseHookRanges(options.HookRanges));
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
        if (options) {
            task->OutputOptions = *options;
            if (task->OutputOptions.FileName.empty())
                task->OutputOptions.FileName = fileName;
            ApplyOutputOptions(*task, task->OutputOptions);
            ConnectHooks(*task, task->OutputOptions);
        } else {
            task->OutputOptions = TOutputOptions{};
        }
        task->OutputName = fileName;
        if (PublishOutputs && !PrepareWorkFile(*task, fileName, lastError_))
            return false;
        if (!task->OpenOutputFile(task->PartName.empty() ? fileName : task->PartName)) {
            lastError_ = task->SetupError;
            DropWorkFile(*task, lastError_);
            return false;
        }
        task->Expected = ExpectedOutput(*task, task->InputStartUs);
        return true;
    } catch (const std::exception& e) {
        lastError_ = e.what();
        DropWorkFile(*task, lastError_);
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
    std::unique_ptr<TFFmpeg> doomed;
    {
        // Lock too, so that no end report starts a task while the later ones move down.
        std::lock_guard lock(lock_);
        std::lock_guard tasksLock(tasksMutex_);
        doomed = tasks_.Take(index);
    }
}

int TCustomAVConverter::TaskCount() const {
    std::lock_guard lock(tasksMutex_);
    return tasks_.Count();
}

TFFmpeg* TCustomAVConverter::Tasks(int index) const {
    std::lock_guard lock(tasksMutex_);
    return tasks_[index];
}

AVFormatContext* TCustomAVConverter::TaskInputContext(int index) const {
    TFFmpeg* task = Tasks(index);
    return task && task->InputFileCount > 0 ? task->InputFiles[0] : nullptr;
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
