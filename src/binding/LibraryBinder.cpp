#include "binding/LibraryBinder.h"

#include "binding/LoadError.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

namespace mobivert::binding {

namespace {

std::string DlErrorText() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

} // namespace

LibraryBinder::LibraryBinder(std::string plainName, std::string versionedName,
                             std::vector<EntrySlot> slots)
    : plainName_(std::move(plainName)), versionedName_(std::move(versionedName)),
      slots_(std::move(slots)) {}

std::string LibraryBinder::FileName() const {
    return versioned_ ? versionedName_ : plainName_;
}

std::string LibraryBinder::LoadedPath() const {
    if (!handle_)
        return {};
    link_map* map = nullptr;
    if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return {};
    return map->l_name;
}

// A file in the given folder wins; without one there the dynamic loader's own search is used,
// so an installed FFmpeg works and a bundled one takes precedence. The process's environment
// and current directory are left as they are.
void* LibraryBinder::OpenFile(const std::string& directory) {
    std::string path = FileName();
    if (!directory.empty()) {
        std::string candidate = directory;
        if (candidate.back() != '/')
            candidate += '/';
        candidate += FileName();
        if (IsFile(candidate))
            path = candidate;
    }
    dlerror();
    // Unloading drops the binding but leaves the code mapped: the libraries and their own
    // dependencies keep global state (and sometimes threads) that must not outlive their code.
    return dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
}

bool LibraryBinder::LoadLib(const std::string& directory, bool versioned, std::string& error) {
    versioned_ = versioned;
    if (!handle_) {
        handle_ = OpenFile(directory);
        if (!handle_) {
            lastError_ = FormatLoadLibraryError(FileName(), DlErrorText());
            error = lastError_;
            return false;
        }
    }
    if (bound_)
        return true;
    if (!BindEntries()) {
        error = lastError_;
        return false;
    }
    bound_ = true;
    return true;
}

// Looks every entry up in list order; the first missing one ends the binding. Entries found
// before it keep their addresses and the library stays loaded but unbound.
bool LibraryBinder::BindEntries() {
    for (const EntrySlot& slot : slots_) {
        dlerror();
        void* address = dlsym(handle_, slot.name);
        if (!address) {
            lastError_ = FormatLoadFunctionError(slot.name, FileName(), DlErrorText());
            return false;
        }
        slot.assign(address);
    }
    return true;
}

void LibraryBinder::ClearEntries() {
    for (const EntrySlot& slot : slots_)
        slot.assign(nullptr);
}

void LibraryBinder::UnloadLib() {
    if (!handle_)
        return;
    ClearEntries();
    dlclose(handle_);
    handle_ = nullptr;
    bound_ = false;
}

} // namespace mobivert::binding
