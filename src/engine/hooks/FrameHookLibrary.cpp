#include "engine/hooks/FrameHookLibrary.h"

#include "binding/AVUtilHlpr.h"

#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <link.h>
#include <memory>
#include <mutex>
#include <set>
#include <unistd.h>
#include <vector>

namespace mobivert::engine {

namespace {

struct CachedLibrary {
    std::string Path;
    void* Handle;
    std::vector<void*> Dependencies; // loaded from the plug-in's folder before it
};

// Libraries stay loaded until the process ends: plug-in code may still be referenced by
// contexts that sessions have not released yet.
struct LibraryCache {
    std::mutex Mutex;
    std::vector<CachedLibrary> Libraries;
};

LibraryCache& Cache() {
    static LibraryCache* cache = new LibraryCache; // outlives every static destructor
    return *cache;
}

bool ReadAt(int fd, void* buffer, size_t size, off_t offset) {
    return pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

// The DT_NEEDED names of an ELF shared object of this process's class; empty when the file is
// not one or cannot be read.
std::vector<std::string> NeededLibraries(const std::string& path) {
    std::vector<std::string> needed;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return needed;
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { close(*f); });

    ElfW(Ehdr) header{};
    if (!ReadAt(fd, &header, sizeof header, 0) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) ||
        header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0 || header.e_phnum > 512)
        return needed;
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!ReadAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                static_cast<off_t>(header.e_phoff)))
        return needed;

    const ElfW(Phdr)* dynamic = nullptr;
    for (const ElfW(Phdr) & segment : segments)
        if (segment.p_type == PT_DYNAMIC)
            dynamic = &segment;
    constexpr size_t MaxDynamicBytes = 64 * 1024;
    if (!dynamic || dynamic->p_filesz == 0 || dynamic->p_filesz > MaxDynamicBytes)
        return needed;
    std::vector<ElfW(Dyn)> entries(dynamic->p_filesz / sizeof(ElfW(Dyn)));
    if (!ReadAt(fd, entries.data(), entries.size() * sizeof(ElfW(Dyn)),
                static_cast<off_t>(dynamic->p_offset)))
        return needed;

    ElfW(Addr) tableAddress = 0;
    size_t tableSize = 0;
    std::vector<size_t> nameOffsets;
    for (const ElfW(Dyn) & entry : entries) {
        if (entry.d_tag == DT_NULL)
            break;
        if (entry.d_tag == DT_STRTAB)
            tableAddress = entry.d_un.d_ptr;
        else if (entry.d_tag == DT_STRSZ)
            tableSize = entry.d_un.d_val;
        else if (entry.d_tag == DT_NEEDED)
            nameOffsets.push_back(entry.d_un.d_val);
    }
    constexpr size_t MaxTableBytes = 1024 * 1024;
    if (nameOffsets.empty() || tableSize == 0 || tableSize > MaxTableBytes)
        return needed;
    // The string table is addressed in memory; find where its loaded segment lies in the file.
    off_t tableOffset = -1;
    for (const ElfW(Phdr) & segment : segments)
        if (segment.p_type == PT_LOAD && tableAddress >= segment.p_vaddr &&
            tableAddress - segment.p_vaddr < segment.p_filesz &&
            tableSize <= segment.p_filesz - (tableAddress - segment.p_vaddr))
            tableOffset = static_cast<off_t>(segment.p_offset + (tableAddress - segment.p_vaddr));
    if (tableOffset < 0)
        return needed;
    std::vector<char> table(tableSize + 1, '\0');
    if (!ReadAt(fd, table.data(), tableSize, tableOffset))
        return needed;
    for (size_t offset : nameOffsets)
        if (offset < tableSize)
            needed.emplace_back(table.data() + offset);
    return needed;
}

// Loads the dependencies of the library at path that lie in folder, deepest first, so that the
// dynamic loader finds them already loaded (by their names) when it loads the library.
void LoadDependenciesFrom(const std::filesystem::path& folder, const std::string& path,
                          std::set<std::string>& visited, std::vector<void*>& handles, int depth) {
    if (depth > 16)
        return;
    for (const std::string& name : NeededLibraries(path)) {
        if (name.empty() || name.find('/') != std::string::npos)
            continue;
        std::string candidate = (folder / name).string();
        std::error_code ec;
        if (!visited.insert(candidate).second || !std::filesystem::is_regular_file(candidate, ec))
            continue;
        LoadDependenciesFrom(folder, candidate, visited, handles, depth + 1);
        if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            handles.push_back(handle);
    }
}

} // namespace

void* LoadHookLibrary(const std::string& path, std::string& error) {
    LibraryCache& cache = Cache();
    std::lock_guard lock(cache.Mutex);
    for (const CachedLibrary& library : cache.Libraries)
        if (library.Path == path)
            return library.Handle;

    std::vector<void*> dependencies;
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::set<std::string> visited{path};
        LoadDependenciesFrom(folder, path, visited, dependencies, 0);
    }
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        error = text ? text : "cannot load " + path;
        for (void* dependency : dependencies)
            dlclose(dependency);
        return nullptr;
    }
    cache.Libraries.push_back({path, handle, std::move(dependencies)});
    return handle;
}

int AddFrameHook(FrameHookEntry** first, int argc, char* argv[]) {
    if (argc < 1 || !argv || !argv[0])
        return HOOK_NO_ENTRY;
    const char* path = argv[0];
    std::string error;
    void* library = LoadHookLibrary(path, error);
    if (!library) {
        av::av_log(nullptr, 0, "%s\n", error.c_str());
        return HOOK_NOT_LOADABLE;
    }

    auto* entry = static_cast<FrameHookEntry*>(av::av_mallocz(sizeof(FrameHookEntry)));
    if (!entry)
        return HOOK_NO_MEMORY;
    entry->Configure = reinterpret_cast<FrameHookConfigureFn>(dlsym(library, "Configure"));
    entry->Process = reinterpret_cast<FrameHookProcessFn>(dlsym(library, "Process"));
    entry->Release = reinterpret_cast<FrameHookReleaseFn>(dlsym(library, "Release"));

    int result = HOOK_ADDED;
    if (!entry->Process) {
        av::av_log(nullptr, 0, "Failed to find Process entrypoint in %s\n", path);
        result = HOOK_NO_ENTRY;
    } else if (!entry->Configure && argc > 1) {
        av::av_log(nullptr, 0, "Failed to find Configure entrypoint in %s\n", path);
        result = HOOK_NO_ENTRY;
    } else if (entry->Configure && entry->Configure(&entry->Context, argc, argv) != 0) {
        av::av_log(nullptr, 0, "Failed to Configure %s\n", path);
        result = HOOK_CONFIGURE_FAILED;
    }
    if (result != HOOK_ADDED) {
        av::av_free(entry);
        return result;
    }

    FrameHookEntry** tail = first;
    while (*tail)
        tail = &(*tail)->Next;
    *tail = entry;
    return HOOK_ADDED;
}

void ProcessFrameHooks(FrameHookEntry* first, FrameHookPicture* picture, int pixelFormat, int width,
                       int height, int64_t pts) {
    for (FrameHookEntry* entry = first; entry; entry = entry->Next)
        entry->Process(entry->Context, picture, pixelFormat, width, height, pts);
}

void ReleaseFrameHooks(FrameHookEntry** first) {
    FrameHookEntry* entry = *first;
    *first = nullptr;
    while (entry) {
        FrameHookEntry* next = entry->Next;
        if (entry->Release)
            entry->Release(entry->Context);
        av::av_free(entry);
        entry = next;
    }
}

} // namespace mobivert::engine
