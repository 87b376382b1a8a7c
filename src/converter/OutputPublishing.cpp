#include "converter/OutputPublishing.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "converter/FFmpegTask.h"

#include <filesystem>
#include <sys/stat.h>

namespace mobivert::converter {

namespace fs = std::filesystem;

namespace {

std::string WithFileName(const std::string& path, const std::string& fileName) {
    return (fs::path(path).parent_path() / fileName).string();
}

} // namespace

std::string NumberedName(const std::string& name, int n) {
    if (n <= 0)
        return name;
    fs::path path(name);
    std::string stem = path.stem().string();
    std::string number = "[" + std::to_string(n) + "]";
    if (!stem.empty() && stem.back() == ')')
        stem.insert(stem.size() - 1, " " + number);
    else
        stem += " " + number;
    return WithFileName(name, stem + path.extension().string());
}

std::string PartialName(const std::string& name, int n) {
    fs::path path(name);
    std::string mark = n > 0 ? " [partial " + std::to_string(n) + "]" : " [partial]";
    return WithFileName(name, path.stem().string() + mark + path.extension().string());
}

bool HoldsMedia(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || info.st_size == 0)
        return false;
    AVFormatContext* context = nullptr;
    if (av::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return false;
    AVPacket* packet = av::av_packet_alloc();
    bool media = packet && context->nb_streams > 0 && av::av_read_frame(context, packet) >= 0;
    av::av_packet_free(&packet);
    av::avformat_close_input(&context);
    return media;
}

bool PrepareWorkFile(TFFmpeg& task, const std::string& finalName, std::string& error) {
    DropWorkFile(task);
    task.PublishesOutput = false;
    if (!task.ForcedOutputFormat) {
        task.ForcedOutputFormat = av::av_guess_format(nullptr, finalName.c_str(), nullptr);
        if (!task.ForcedOutputFormat) {
            error = "Unable to find a suitable output format for '" + finalName + "'";
            return false;
        }
    }
    if (task.ForcedOutputFormat->flags & AVFMT_NOFILE)
        return true;
    task.PublishesOutput = true;
    return OpenWorkFile(task, error);
}

void DropWorkFile(TFFmpeg& task) {
    // A descriptor handed in by another process (a worker's) is not a work file of this one.
    if (!task.Work.Active())
        return;
    task.Work.Remove();
    task.PartName.clear();
    task.OutputDescriptor = -1;
}

bool OpenWorkFile(TFFmpeg& task, std::string& error) {
    DropWorkFile(task);
    if (!task.PublishesOutput)
        return true;
    if (!task.Work.Create(task.OutputName, error))
        return false;
    task.PartName = task.Work.Path();
    task.OutputFileName = task.PartName;
    task.OutputDescriptor = task.Work.Descriptor();
    return true;
}

namespace {

// The published side of the end step: the work file is checked through its own descriptor,
// then published, kept as partial or removed.
void FinishWorkFile(TFFmpeg& task, bool completed) {
    const std::string readBack = task.Work.ReadPath();
    if (completed)
        task.Warnings = CheckOutput(readBack, task.Expected);
    if (completed && task.Warnings == UnreadableOutputText) {
        // An output that cannot be read back is no result: it fails and goes.
        task.Failed = true;
        task.ErrorMessage = task.OutputName + ": " + UnreadableOutputText;
        task.Warnings.clear();
        DropWorkFile(task);
        return;
    }
    std::string error;
    if (completed) {
        if (task.Work.Sync(error)) {
            task.PublishedName = task.Work.Publish(
                [&task](int n) { return NumberedName(task.OutputName, n); }, error);
        }
        if (task.PublishedName.empty()) {
            // The output exists nowhere a user would look: the run failed after all.
            task.Failed = true;
            task.ErrorMessage = error;
            task.Warnings.clear();
        }
    } else if (!task.Failed && HoldsMedia(readBack) && task.Work.Sync(error)) {
        task.PublishedName =
            task.Work.Publish([&task](int n) { return PartialName(task.OutputName, n); }, error);
        task.PartialOutput = !task.PublishedName.empty();
    }
    DropWorkFile(task);
}

} // namespace

namespace {

// A reason that names the hidden work file names the output the user asked for instead.
void NameOutputInReason(TFFmpeg& task) {
    if (task.PartName.empty() || task.OutputName.empty())
        return;
    std::string& text = task.ErrorMessage;
    for (size_t at = text.find(task.PartName); at != std::string::npos;
         at = text.find(task.PartName, at + task.OutputName.size()))
        text.replace(at, task.PartName.size(), task.OutputName);
}

} // namespace

void FinishTaskOutput(TFFmpeg& task) {
    NameOutputInReason(task);
    const bool completed = task.Finished && !task.Failed;
    task.Warnings.clear();
    task.PublishedName.clear();
    task.PartialOutput = false;
    if (task.Work.Active()) {
        FinishWorkFile(task, completed);
        return;
    }
    // Written for the process that owns the task, which checks and publishes it.
    if (task.OutputDescriptor >= 0)
        return;
    // A published output without its work file never ran (it could not be created).
    if (task.PublishesOutput)
        return;
    const std::string& written = task.OutputName;
    if (completed && !written.empty())
        task.Warnings = CheckOutput(written, task.Expected);
    std::error_code ec;
    if (!written.empty() && fs::exists(written, ec))
        task.PublishedName = written;
}

} // namespace mobivert::converter
