#pragma once
// A work file: the hidden file (".<name>.part") an output is written to before it takes its
// own name. Every step goes through descriptors, never through a path that could be swapped:
// the output folder is opened once, the file is created in it exclusively (an existing name,
// and a symbolic link above all, is never opened), the output is written through the file's
// descriptor, read back through that same open file, and published by a rename inside the
// folder that never replaces anything. A name that no longer holds this very file (someone
// swapped it) is never published or removed.
//
// While a work file exists it is locked (flock), so that the clean-up after a program that was
// killed tells its abandoned work files from those another running program is writing.

#include <functional>
#include <string>
#include <vector>

namespace mobivert::converter {

class TWorkFile {
public:
    TWorkFile() = default;
    // A work file still here (neither published nor removed) is removed.
    ~TWorkFile();
    TWorkFile(const TWorkFile&) = delete;
    TWorkFile& operator=(const TWorkFile&) = delete;

    // Creates the work file of finalName in finalName's folder: ".<file name>.part", or
    // ".<file name>.1.part" and so on while those are taken. False with the reason in error
    // ("Could not open '<finalName>': <system's reason>").
    bool Create(const std::string& finalName, std::string& error);
    bool Active() const { return fd_ >= 0; }
    // The work file's path (for messages and logs) and its descriptor, open for reading and
    // writing.
    const std::string& Path() const { return path_; }
    int Descriptor() const { return fd_; }
    // A path that opens this very file, whatever happened to its name since.
    std::string ReadPath() const;
    // Whether the work file's name still holds this file.
    bool StillHere() const;

    // Flushes the data to the disk; false with the reason in error.
    bool Sync(std::string& error);
    // Gives the file the first of nameOf(0), nameOf(1), ... that is free (names in the same
    // folder), never replacing anything there; the folder is flushed after. The path taken, or
    // empty with the reason in error, the work file then still being here.
    std::string Publish(const std::function<std::string(int)>& nameOf, std::string& error);
    // Removes the work file (when its name still holds it) and lets it go.
    void Remove();

private:
    friend void RemoveLiveWorkFiles();
    // Removes the name when it still holds this file; the caller holds the live files' lock.
    void Unlink();
    void Close();

    int folder_ = -1;
    int fd_ = -1;
    std::string name_; // in the folder
    std::string folderPath_;
    std::string path_;
};

// The work files of this process that are still here are removed: for a program that quits at
// once. Safe to call from any thread while tasks run.
void RemoveLiveWorkFiles();

// Removes the work files a program that is gone left for these outputs (whatever number their
// names got), and the listed work file paths too; files a running program holds (waited for a
// few seconds in all, as a killed program's worker lets go), and names that are not plain
// files (links), are left alone.
void RemoveAbandonedWorkFiles(const std::vector<std::string>& finalNames,
                              const std::vector<std::string>& workFilePaths = {});

} // namespace mobivert::converter
