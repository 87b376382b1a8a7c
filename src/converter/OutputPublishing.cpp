#include "converter/OutputPublishing.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "converter/FFmpegTask.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace mobivert::converter {

namespace fs = std::filesystem;

namespace {

// Enough numbered names for any folder a person keeps; a loop past them means something else
// is wrong (for example a folder that refuses every name).
constexpr int kMaxNumber = 10000;

std::string WithFileName(const std::string& path, const std::string& fileName) {
    return (fs::path(path).parent_path() / fileName).string();
}

// Renames without replacing: renameat2 where the file system has it, otherwise a hard link
// (which fails on an existing name too) and the removal of the old name. 0, or errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (link(from.c_str(), to.c_str()) != 0)
        return errno;
    unlink(from.c_str());
    return 0;
}

void RemoveFile(const std::string& path) {
    if (!path.empty())
        unlink(path.c_str());
}

} // namespace

std::string CreatePartFile(const std::string& finalName, std::string& error) {
    const std::string fileName = fs::path(finalName).filename().string();
    for (int n = 0; n < kMaxNumber; ++n) {
        std::string part = WithFileName(
            finalName, "." + fileName + (n > 0 ? "." + std::to_string(n) : "") + ".part");
        int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return part;
        }
        if (errno != EEXIST) {
            error = "Could not open '" + finalName + "': " + std::strerror(errno);
            return "";
        }
    }
    error = "Could not open '" + finalName + "': no free work file name";
    return "";
}

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

std::string MoveToFreeName(const std::string& from, const std::function<std::string(int)>& nameOf,
                           std::string& error) {
    for (int n = 0; n < kMaxNumber; ++n) {
        std::string name = nameOf(n);
        int result = RenameNoReplace(from, name);
        if (result == 0)
            return name;
        if (result != EEXIST) {
            error = "Could not move the output to '" + name + "': " + std::strerror(result);
            return "";
        }
    }
    error = "Could not move the output to '" + nameOf(0) + "': no free name";
    return "";
}

bool SyncFile(const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        error = "Could not write '" + path + "' to the disk: " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    close(fd);
    return true;
}

void SyncFolderOf(const std::string& path) {
    fs::path folder = fs::path(path).parent_path();
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
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
    task.PartName.clear();
    if (!task.ForcedOutputFormat) {
        task.ForcedOutputFormat = av::av_guess_format(nullptr, finalName.c_str(), nullptr);
        if (!task.ForcedOutputFormat) {
            error = "Unable to find a suitable output format for '" + finalName + "'";
            return false;
        }
    }
    if (task.ForcedOutputFormat->flags & AVFMT_NOFILE)
        return true;
    task.PartName = CreatePartFile(finalName, error);
    return !task.PartName.empty();
}

void DropWorkFile(TFFmpeg& task, std::string& error) {
    if (task.PartName.empty())
        return;
    RemoveFile(task.PartName);
    for (size_t at = error.find(task.PartName); at != std::string::npos;
         at = error.find(task.PartName, at + task.OutputName.size()))
        error.replace(at, task.PartName.size(), task.OutputName);
    task.PartName.clear();
}

void FinishTaskOutput(TFFmpeg& task) {
    const bool completed = task.Finished && !task.Failed;
    const std::string written = task.PartName.empty() ? task.OutputName : task.PartName;
    task.Warnings.clear();
    task.PublishedName.clear();
    task.PartialOutput = false;
    if (completed && !written.empty())
        task.Warnings = CheckOutput(written, task.Expected);
    if (completed && task.Warnings == UnreadableOutputText) {
        // An output that cannot be read back is no result: it fails and goes.
        RemoveFile(written);
        task.Failed = true;
        task.ErrorMessage = task.OutputName + ": " + UnreadableOutputText;
        task.Warnings.clear();
        task.PartName.clear();
        return;
    }

    if (task.PartName.empty()) {
        std::error_code ec;
        if (!written.empty() && fs::exists(written, ec))
            task.PublishedName = written;
        return;
    }

    std::string error;
    if (completed) {
        if (SyncFile(task.PartName, error)) {
            task.PublishedName = MoveToFreeName(
                task.PartName, [&task](int n) { return NumberedName(task.OutputName, n); }, error);
        }
        if (task.PublishedName.empty()) {
            // The output exists nowhere a user would look: the run failed after all.
            RemoveFile(task.PartName);
            task.Failed = true;
            task.ErrorMessage = error;
            task.Warnings.clear();
            return;
        }
    } else if (!task.Failed && HoldsMedia(task.PartName) && SyncFile(task.PartName, error)) {
        task.PublishedName = MoveToFreeName(
            task.PartName, [&task](int n) { return PartialName(task.OutputName, n); }, error);
        task.PartialOutput = !task.PublishedName.empty();
    }
    if (task.PublishedName.empty())
        RemoveFile(task.PartName);
    else
        SyncFolderOf(task.PublishedName);
}

} // namespace mobivert::converter
