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

// Room kept beside an output's name for the names made from it while it is written and
// published: the work name adds "." and ".part" (and ".n" when that is taken), a partial output
// " [partial n]", a name taken meanwhile " [n]".
constexpr size_t kRoomForWorkNames = 20;

// The longest start of text of at most bytes bytes that does not cut a UTF-8 character.
std::string Utf8Prefix(const std::string& text, size_t bytes) {
    if (text.size() <= bytes)
        return text;
    size_t length = bytes;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return text.substr(0, length);
}

} // namespace

std::string NumberedOutputName(const std::string& basePath, const std::string& presetText, int n,
                               size_t maxNameBytes) {
    fs::path base(basePath);
    std::string stem = base.stem().string();
    std::string tail = " (" + PresetName(presetText);
    if (n > 0)
        tail += " [" + std::to_string(n) + "]";
    tail += ")" + PresetExtension(presetText);
    if (maxNameBytes != std::string::npos && stem.size() + tail.size() > maxNameBytes)
        stem = Utf8Prefix(stem, maxNameBytes > tail.size() ? maxNameBytes - tail.size() : 0);
    return (base.parent_path() / stem).string() + tail;
}

size_t OutputNameLimit(const std::string& folder) {
    long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0)
        limit = 255;
    return static_cast<size_t>(limit) > kRoomForWorkNames
               ? static_cast<size_t>(limit) - kRoomForWorkNames
               : static_cast<size_t>(limit);
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
    const size_t limit = OutputNameLimit(fs::path(base).parent_path().string());
    shortened_ = false;
    for (int n = 0;; ++n) {
        std::string name = NumberedOutputName(base, presetText, n, limit);
        shortened_ = name != NumberedOutputName(base, presetText, n);
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
