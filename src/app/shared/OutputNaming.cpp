#include "app/shared/OutputNaming.h"

#include "app/shared/Presets.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace mobivert::app {

namespace fs = std::filesystem;

namespace {

// The key under which a name counts as given: the same file however the path was written.
std::string Key(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::path(path).lexically_normal().string() : canonical.string();
}

} // namespace

std::string NumberedOutputName(const std::string& basePath, const std::string& presetText, int n) {
    fs::path base(basePath);
    fs::path stem = base.parent_path() / base.stem();
    std::string name = stem.string() + " (" + PresetName(presetText);
    if (n > 0)
        name += " [" + std::to_string(n) + "]";
    return name + ")" + PresetExtension(presetText);
}

bool EnsureFolder(const std::string& folder, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(folder, ec))
        return true;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        error = "Cannot create the output folder " + folder + ": " +
                (ec ? ec.message() : std::string("not a folder"));
        return false;
    }
    return true;
}

bool TOutputNamer::Taken(const std::string& path) const {
    std::error_code ec;
    // A dangling symbolic link counts too: writing through it would create its target.
    return fs::exists(fs::symlink_status(path, ec)) || given_.count(Key(path)) > 0;
}

std::string TOutputNamer::Choose(const std::string& sourcePath, const std::string& presetText,
                                 bool sameFolder, const std::string& outputFolder,
                                 std::string& error) {
    std::string base = sourcePath;
    if (!sameFolder) {
        if (!EnsureFolder(outputFolder, error))
            return "";
        base = (fs::path(outputFolder) / fs::path(sourcePath).filename()).string();
    }
    for (int n = 0;; ++n) {
        std::string name = NumberedOutputName(base, presetText, n);
        if (Taken(name))
            continue;
        if (reserve_) {
            int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST)
                    continue;
                error = name + ": " + std::strerror(errno);
                return "";
            }
            close(fd);
            reserved_.insert(name);
        }
        given_.insert(Key(name));
        return name;
    }
}

void TOutputNamer::ReleaseReservation(const std::string& path) {
    if (!reserved_.erase(path))
        return;
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(path, ec)) && fs::file_size(path, ec) == 0 && !ec)
        fs::remove(path, ec);
}

} // namespace mobivert::app
