#include "converter/WorkFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace mobivert::converter {

namespace fs = std::filesystem;

namespace {

// Enough numbered names for any folder a person keeps; a loop past them means something else
// is wrong (for example a folder that refuses every name).
constexpr int kMaxNumber = 10000;
constexpr const char* kSuffix = ".part";
// How long the clean-up after a dead program waits, in all, for work files still locked.
constexpr std::chrono::seconds kAbandonWait{3};

// The work files of this process that are still here, for a program that quits at once.
struct LiveWorkFiles {
    std::mutex Mutex;
    std::set<TWorkFile*> Files;
};

LiveWorkFiles& Live() {
    static LiveWorkFiles live;
    return live;
}

std::string WorkName(const std::string& fileName, int n) {
    return "." + fileName + (n > 0 ? "." + std::to_string(n) : "") + kSuffix;
}

int OpenFolder(const std::string& folder) {
    return open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether name in the folder is the file open as fd (not a link to it, not another file).
bool NameHolds(int folder, const std::string& name, int fd) {
    struct stat named {
    }, open{};
    return fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           fstat(fd, &open) == 0 && SameFile(named, open);
}

// Renames without replacing: renameat2 where the file system has it, otherwise a hard link
// (which fails on an existing name too) and the removal of the old name. 0, or errno.
int RenameNoReplace(int folder, const std::string& from, const std::string& to) {
    if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return errno;
    unlinkat(folder, from.c_str(), 0);
    return 0;
}

// Takes the lock, waiting for it until the deadline: the worker of a program that was killed
// notices within moments and lets its work file go.
bool LockBy(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A work file left in the folder is removed when it is a plain file that no running program
// holds (its lock is free).
void RemoveIfAbandoned(int folder, const std::string& name,
                       std::chrono::steady_clock::time_point deadline) {
    int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && LockBy(fd, deadline) &&
        NameHolds(folder, name, fd))
        unlinkat(folder, name.c_str(), 0);
    close(fd);
}

// Whether entry is a work file name of one of the files: "." + file + ".part", or with
// "." + number before ".part".
bool IsWorkNameOf(const std::string& entry, const std::set<std::string>& files) {
    const size_t suffix = std::strlen(kSuffix);
    if (entry.size() <= 1 + suffix || entry[0] != '.' ||
        entry.compare(entry.size() - suffix, suffix, kSuffix) != 0)
        return false;
    std::string stem = entry.substr(1, entry.size() - 1 - suffix);
    if (files.count(stem))
        return true;
    size_t dot = stem.rfind('.');
    if (dot == std::string::npos || dot + 1 == stem.size() ||
        !std::all_of(stem.begin() + static_cast<long>(dot) + 1, stem.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return files.count(stem.substr(0, dot)) > 0;
}

std::string ReplacedMessage(const std::string& path) {
    return "The work file '" + path + "' was replaced by another file while the output was written";
}

} // namespace

TWorkFile::~TWorkFile() {
    Remove();
}

bool TWorkFile::Create(const std::string& finalName, std::string& error) {
    Remove();
    const fs::path final(finalName);
    folderPath_ = final.parent_path().string();
    folder_ = OpenFolder(folderPath_);
    if (folder_ < 0) {
        error = "Could not open '" + finalName + "': " + std::strerror(errno);
        return false;
    }
    const std::string fileName = final.filename().string();
    for (int n = 0; n < kMaxNumber; ++n) {
        std::string name = WorkName(fileName, n);
        int fd =
            openat(folder_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            break;
        // Held until the file is published or removed; no one else locks a file just made.
        flock(fd, LOCK_EX | LOCK_NB);
        std::lock_guard lock(Live().Mutex);
        fd_ = fd;
        name_ = name;
        path_ = (fs::path(folderPath_) / name).string();
        Live().Files.insert(this);
        return true;
    }
    error = "Could not open '" + finalName + "': " +
            (errno == EEXIST ? std::string("no free work file name") : std::strerror(errno));
    Close();
    return false;
}

std::string TWorkFile::ReadPath() const {
    return fd_ < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd_);
}

bool TWorkFile::StillHere() const {
    return fd_ >= 0 && NameHolds(folder_, name_, fd_);
}

bool TWorkFile::Sync(std::string& error) {
    if (fd_ >= 0 && fsync(fd_) == 0)
        return true;
    error =
        "Could not write '" + path_ + "' to the disk: " + std::strerror(fd_ < 0 ? EBADF : errno);
    return false;
}

std::string TWorkFile::Publish(const std::function<std::string(int)>& nameOf, std::string& error) {
    std::lock_guard lock(Live().Mutex);
    if (fd_ < 0 || !NameHolds(folder_, name_, fd_)) {
        error = ReplacedMessage(path_);
        return "";
    }
    for (int n = 0; n < kMaxNumber; ++n) {
        const std::string path = nameOf(n);
        const std::string name = fs::path(path).filename().string();
        int result = RenameNoReplace(folder_, name_, name);
        if (result == EEXIST)
            continue;
        if (result != 0) {
            error = "Could not move the output to '" + path + "': " + std::strerror(result);
            return "";
        }
        if (!NameHolds(folder_, name, fd_)) {
            // Swapped between the look and the rename: what now has the output's name is
            // someone else's link or file, which goes again; the output was never published.
            unlinkat(folder_, name.c_str(), 0);
            error = ReplacedMessage(path_);
            return "";
        }
        fsync(folder_);
        name_.clear();
        Live().Files.erase(this);
        Close();
        return path;
    }
    error = "Could not move the output to '" + nameOf(0) + "': no free name";
    return "";
}

void TWorkFile::Remove() {
    std::lock_guard lock(Live().Mutex);
    Unlink();
    Live().Files.erase(this);
    Close();
}

void TWorkFile::Unlink() {
    if (fd_ >= 0 && !name_.empty() && NameHolds(folder_, name_, fd_))
        unlinkat(folder_, name_.c_str(), 0);
}

void TWorkFile::Close() {
    if (fd_ >= 0)
        close(fd_);
    if (folder_ >= 0)
        close(folder_);
    fd_ = folder_ = -1;
    name_.clear();
}

void RemoveLiveWorkFiles() {
    std::lock_guard lock(Live().Mutex);
    for (TWorkFile* file : Live().Files)
        file->Unlink();
}

void RemoveAbandonedWorkFiles(const std::vector<std::string>& finalNames,
                              const std::vector<std::string>& workFilePaths) {
    const auto deadline = std::chrono::steady_clock::now() + kAbandonWait;
    std::map<std::string, std::set<std::string>> filesOfFolder;
    for (const std::string& finalName : finalNames) {
        if (finalName.empty())
            continue;
        fs::path final(finalName);
        filesOfFolder[final.parent_path().string()].insert(final.filename().string());
    }
    for (const auto& [folderPath, files] : filesOfFolder) {
        int folder = OpenFolder(folderPath);
        if (folder < 0)
            continue;
        std::vector<std::string> doomed;
        if (DIR* listing = fdopendir(dup(folder))) {
            while (dirent* entry = readdir(listing))
                if (IsWorkNameOf(entry->d_name, files))
                    doomed.push_back(entry->d_name);
            closedir(listing);
        }
        for (const std::string& name : doomed)
            RemoveIfAbandoned(folder, name, deadline);
        close(folder);
    }
    for (const std::string& path : workFilePaths) {
        fs::path work(path);
        int folder = path.empty() ? -1 : OpenFolder(work.parent_path().string());
        if (folder < 0)
            continue;
        RemoveIfAbandoned(folder, work.filename().string(), deadline);
        close(folder);
    }
}

} // namespace mobivert::converter
