#pragma once
// One run-time loaded shared library and the table of entry points bound from it.

#include <string>
#include <vector>

namespace mobivert::binding {

// A slot of an entry table: the symbol name and where its address goes.
struct EntrySlot {
    const char* name;
    void (*assign)(void* address);
};

class LibraryBinder {
public:
    // plainName: "libavcodec.so"; versionedName: "libavcodec.so.59".
    LibraryBinder(std::string plainName, std::string versionedName, std::vector<EntrySlot> slots);
    LibraryBinder(const LibraryBinder&) = delete;
    LibraryBinder& operator=(const LibraryBinder&) = delete;

    // Makes sure the library is loaded and every entry bound. The directory, when not empty, is
    // tried first; a file that is not there is looked up through the system search path.
    bool LoadLib(const std::string& directory, bool versioned, std::string& error);
    void UnloadLib();
    bool IsBound() const { return bound_; }
    bool IsLoaded() const { return handle_ != nullptr; }

    // The file name for the current versioned flag, as it appears in error texts.
    std::string FileName() const;
    const std::string& LastError() const { return lastError_; }
    void ClearLastError() { lastError_.clear(); }
    // Full path of the loaded file (empty when not loaded).
    std::string LoadedPath() const;

private:
    void* OpenFile(const std::string& directory);
    bool BindEntries();
    void ClearEntries();

    std::string plainName_;
    std::string versionedName_;
    std::vector<EntrySlot> slots_;
    void* handle_ = nullptr;
    bool bound_ = false;
    bool versioned_ = true;
    std::string lastError_;
};

} // namespace mobivert::binding
