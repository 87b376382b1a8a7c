#include "converter/FFmpegTask.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "converter/OutputPublishing.h"
#include "converter/PassLogFolder.h"
#include "converter/RecordApplying.h"
#include "converter/SizeCorrection.h"
#include "engine/open/DescriptorOutput.h"
#include "engine/session/FFMpegException.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mobivert::converter {

namespace {

void RemoveIfEmpty(const std::string& path) {
    std::error_code ec;
    if (!path.empty() && std::filesystem::is_regular_file(path, ec) &&
        std::filesystem::file_size(path, ec) == 0 && !ec)
        std::filesystem::remove(path, ec);
}

} // namespace

TFFmpeg::~TFFmpeg() {
    ShutDown();
    // A task that never ran leaves no empty output behind, as a session that held its output
    // open until it was freed never did.
    if (OutputReady && !ran_ && !PublishesOutput && OutputDescriptor < 0)
        RemoveIfEmpty(OutputFileName);
}

bool TFFmpeg::OpenInputFromRecord() {
    // A session that holds files, or was released, starts afresh; the level set by the
    // component survives.
    if (InputFileCount > 0 || OutputFileCount > 0 || !FormatOptContext) {
        int verbose = Verbose;
        FreeSession();
        ResetOptions();
        Verbose = verbose;
        CreateOptionHolders();
    }
    resident_ = true;
    if (HasInputRecord)
        ApplyInputRecord(*this, InputOptions);
    InputStartUs = StartTime;
    if (!OpenInputFile(InputFileName))
        return false;
    // The demuxer probing chose, by its first name, so that a worker opening the file again
    // need not probe it again.
    const AVInputFormat* format = InputFileCount > 0 ? InputFiles[0]->iformat : nullptr;
    const std::string names = format && format->name ? format->name : "";
    ProbedFormat = names.substr(0, names.find(','));
    return true;
}

bool TFFmpeg::OpenOutputFromRecord() {
    if (!OutputFormatName.empty())
        SetOutputFormat(OutputFormatName);
    if (HasOutputRecord)
        ApplyOutputRecord(*this, OutputOptions);
    return OpenOutputFile(OutputFileName);
}

void TFFmpeg::ForgetCheckedOutput(bool existedBefore) {
    for (int i = 0; i < OutputFileCount; ++i) {
        AVFormatContext* oc = OutputFiles[i];
        if (!oc)
            continue;
        if (oc->oformat && !(oc->oformat->flags & AVFMT_NOFILE))
            engine::CloseOutputIO(oc);
        // Releasing the session later must not remove a file by this name: by then it may be
        // someone else's.
        av::av_freep(&oc->url);
    }
    if (!existedBefore && OutputDescriptor < 0)
        RemoveIfEmpty(OutputFileName);
}

void TFFmpeg::Park() {
    if (!resident_)
        return;
    Probe.Release();
    FreeSession();
    resident_ = false;
}

bool TFFmpeg::HasInput() const {
    return InputFileCount > 0 || !InputFileName.empty();
}

bool TFFmpeg::HasOutput() const {
    return OutputFileCount > 0 || OutputReady;
}

void TFFmpeg::Transcode() {
    ran_ = true;
    // A published output's work file is made now, at the task's turn, and nowhere but in its
    // folder; a folder that vanished or refuses it fails this task alone.
    std::string error;
    if (!OpenWorkFile(*this, error))
        throw engine::FFMpegException(error);
    if (!WorkerProgram.empty()) {
        RunInWorker();
        return;
    }
    if (HasOutputRecord && OutputOptions.TwoPass && !OutputOptions.DisableVideo) {
        RunTwoPasses();
        return;
    }
    if (HasOutputRecord && OutputOptions.TargetSize > 0 && !OutputOptions.DisableVideo) {
        Log(1, "One pass at the video bit rate the target size leaves");
        RunOutputPasses(0, "");
        return;
    }
    RunPass(-1, "");
}

bool TFFmpeg::OpenPassOutput(int pass, const std::string& passLog) {
    if (pass < 0)
        return OpenOutputFromRecord();
    // The first pass codes what the second does, sound included (so that both see the same
    // timing of the source), into no file: only the video's statistics are kept.
    TOutputOptions record = OutputOptions;
    record.DisableSubtitle = record.DisableSubtitle || pass == 1;
    if (pass != 1 && outputVideoBitRate_ > 0)
        record.VideoBitRate = outputVideoBitRate_;
    if (!OutputFormatName.empty())
        SetOutputFormat(OutputFormatName);
    ApplyOutputRecord(*this, record);
    if (pass == 1)
        SetOutputFormat("null");
    if (!passLog.empty())
        ApplyOptionText("pass=" + std::to_string(pass) + "\npasslogfile=" + passLog);
    // The first pass's output is no file; its name must not be the work file's, which the
    // session would take for an output left empty and remove.
    return OpenOutputFile(pass == 1 ? passLog + "-first-pass" : OutputFileName);
}

void TFFmpeg::RunPass(int pass, const std::string& passLog) {
    // Set-up only checked the files; the run opens them again, as they are now. A source that
    // vanished or changed meanwhile fails here with the opener's own message.
    if (!OpenInputFromRecord() || !OpenPassOutput(pass, passLog)) {
        // A stop that cut the opening short ends the run as stopped, not failed.
        if (StopRequested)
            return;
        throw engine::FFMpegException(SetupError);
    }
    // An output pass coded again is one pass more of the same progress: the time done goes on
    // from where it was and the whole grows by that pass.
    const int passesBefore = pass > 0 ? pass - 1 : 0;
    const int passes = pass > 0 ? 2 : 1;
    ProgressPass = pass >= 0 ? passesBefore + sizeCorrections_ : 0;
    ProgressPassCount = pass >= 0 ? passes + sizeCorrections_ : 1;
    engine::TCustomFFmpeg::Transcode();
}

void TFFmpeg::RunTwoPasses() {
    outputVideoBitRate_ = -1;
    sizeCorrections_ = 0;
    TPassLogFolder folder;
    std::string error;
    if (!folder.Create(error))
        throw engine::FFMpegException(error);
    Log(1, "Two passes: the first gathers the video encoder's statistics in " + folder.Path());
    RunPass(1, folder.LogName());
    // A stop during the first pass leaves nothing to write.
    if (StopRequested || !Finished)
        return;
    Finished = false;
    // A source whose video cannot be decoded gives no statistics: the output is then coded
    // as a run in one pass would code it.
    std::error_code ec;
    if (!std::filesystem::exists(folder.LogName() + "-0.log", ec)) {
        Log(1, "The first pass coded no video: the output is coded in one pass");
        RunPass(2, "");
        return;
    }
    Log(1, "Second pass: the output, at the video bit rate the statistics plan");
    RunOutputPasses(2, folder.LogName());
}

int64_t TFFmpeg::WrittenSize() const {
    struct stat info {};
    const int result = OutputDescriptor >= 0 ? fstat(OutputDescriptor, &info)
                                             : stat(OutputFileName.c_str(), &info);
    return result == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

void TFFmpeg::RunOutputPasses(int pass, const std::string& passLog) {
    outputVideoBitRate_ = OutputOptions.VideoBitRate;
    sizeCorrections_ = 0;
    std::optional<TSizeAttempt> earlier;
    for (;;) {
        RunPass(pass, passLog);
        if (StopRequested || !Finished || OutputOptions.TargetSize <= 0 ||
            sizeCorrections_ >= MAX_SIZE_CORRECTIONS)
            return;
        const int64_t written = WrittenSize();
        const TSizeAttempt attempt{outputVideoBitRate_, written, VideoSize};
        const std::optional<int32_t> corrected =
            CorrectedVideoBitRate(OutputOptions.TargetSize, attempt, earlier);
        if (!corrected)
            return;
        earlier = attempt;
        Log(1, "The output took " + std::to_string(written) + " bytes of " +
                   std::to_string(OutputOptions.TargetSize) +
                   ": coded again at a video bit rate of " + std::to_string(*corrected));
        outputVideoBitRate_ = *corrected;
        ++sizeCorrections_;
        Finished = false;
        // The attempt that missed is overwritten from its first byte; nothing of it stays
        // beyond the new output's end.
        if (OutputDescriptor >= 0 && ftruncate(OutputDescriptor, 0) != 0)
            throw engine::FFMpegException("Could not empty '" + OutputFileName +
                                          "' for another pass");
    }
}

TFFmpegList::~TFFmpegList() = default;

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    task->Index = Count();
    tasks_.push_back(std::move(task));
    return Count() - 1;
}

void TFFmpegList::Delete(int index) {
    Take(index);
}

std::unique_ptr<TFFmpeg> TFFmpegList::Take(int index) {
    std::vector<std::unique_ptr<TFFmpeg>> taken = TakeMany({index});
    return taken.empty() ? nullptr : std::move(taken.front());
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::TakeMany(std::vector<int> indexes) {
    std::sort(indexes.begin(), indexes.end());
    std::vector<std::unique_ptr<TFFmpeg>> taken;
    auto next = indexes.begin();
    size_t kept = 0;
    for (size_t i = 0; i < tasks_.size(); ++i) {
        while (next != indexes.end() && *next < static_cast<int>(i))
            ++next;
        if (next != indexes.end() && *next == static_cast<int>(i)) {
            taken.push_back(std::move(tasks_[i]));
            continue;
        }
        tasks_[kept] = std::move(tasks_[i]);
        tasks_[kept]->Index = static_cast<int>(kept);
        ++kept;
    }
    tasks_.resize(kept);
    return taken;
}

void TFFmpegList::Clear() {
    tasks_.clear();
}

TFFmpeg* TFFmpegList::operator[](int index) const {
    return index >= 0 && index < Count() ? tasks_[index].get() : nullptr;
}

TFFmpeg* TFFmpegList::FindByThreadID(pid_t threadId) const {
    for (const auto& task : tasks_)
        if (task->ThreadID == threadId)
            return task.get();
    return nullptr;
}

} // namespace mobivert::converter
