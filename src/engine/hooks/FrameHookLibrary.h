#pragma once
// Frame-hook plug-ins: the process-wide library cache, the list of configured plug-ins of a
// session, and the calls into them.

#define FRAMEHOOK_HOST
#include "mobivert/FrameHook.h"

#include <cstdint>
#include <string>

namespace mobivert::engine {

// One configured plug-in; allocated zeroed with av_mallocz, freed by ReleaseFrameHooks.
struct FrameHookEntry {
    FrameHookEntry* Next;
    FrameHookConfigureFn Configure;
    FrameHookProcessFn Process;
    FrameHookReleaseFn Release;
    void* Context;
};

// Results of AddFrameHook.
constexpr int HOOK_ADDED = 0;
constexpr int HOOK_NOT_LOADABLE = -1;
constexpr int HOOK_NO_ENTRY = -2;
constexpr int HOOK_NO_MEMORY = -12;
constexpr int HOOK_CONFIGURE_FAILED = -22;

// Loads argv[0] (through the cache), configures it with the words and appends it to the list.
// Failures are logged through av_log at level 0.
int AddFrameHook(FrameHookEntry** first, int argc, char* argv[]);

// Calls Process of every entry, in list order, on the picture.
void ProcessFrameHooks(FrameHookEntry* first, FrameHookPicture* picture, int pixelFormat, int width,
                       int height, int64_t pts);

// Calls Release of every entry that has one, frees the entries and empties the list.
void ReleaseFrameHooks(FrameHookEntry** first);

// The library at this path, loaded once per process: the path is compared as given (file names
// are case-sensitive here). Libraries in the plug-in's own folder that it depends on are loaded
// from there first. nullptr with the loader's error text when it cannot be loaded.
void* LoadHookLibrary(const std::string& path, std::string& error);

} // namespace mobivert::engine
