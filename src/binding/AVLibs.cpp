#include "binding/AVLibs.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>

namespace mobivert::binding {

namespace {

std::atomic<bool> allLoaded{false};
std::string lastError;
std::atomic<int> cachedLogLevel{AV_LOG_INFO};
// Where the set was loaded from, for libavfilter's later load; guarded by filterMutex.
std::mutex filterMutex;
std::string loadedDirectory;
bool loadedVersioned = true;

// Dependencies come first: a library loaded by full path from the "lib" folder is matched by its
// soname when a later library names it as a dependency, so the bundled copies are the ones the
// others link against instead of a second, system-wide copy. libavfilter is not among them: it
// is loaded by LoadAVFilter when a conversion first needs a filter graph.
std::array<std::reference_wrapper<LibraryBinder>, 5> LoadOrder() {
    return {AVUtilBinder(), SwResampleBinder(), SwScaleBinder(), AVCodecBinder(), AVFormatBinder()};
}

} // namespace

bool LoadAVLibs(const std::string& directory, bool versioned) {
    if (allLoaded)
        return true;
    lastError.clear();
    bool ok = true;
    for (LibraryBinder& binder : LoadOrder()) {
        std::string error;
        if (!binder.LoadLib(directory, versioned, error)) {
            lastError = error;
            ok = false;
            break;
        }
    }
    if (ok) {
        std::lock_guard lock(filterMutex);
        loadedDirectory = directory;
        loadedVersioned = versioned;
    }
    allLoaded = ok;
    if (ok)
        RefreshCachedLogLevel();
    else
        UnloadAVLibs();
    return ok;
}

bool LoadAVFilter(std::string& error) {
    std::lock_guard lock(filterMutex);
    LibraryBinder& binder = AVFilterBinder();
    if (binder.IsBound())
        return true;
    if (!allLoaded) {
        error = "LibAVFilter not loaded.";
        return false;
    }
    if (binder.LoadLib(loadedDirectory, loadedVersioned, error))
        return true;
    binder.UnloadLib();
    return false;
}

void UnloadAVLibs() {
    allLoaded = false;
    {
        std::lock_guard lock(filterMutex);
        AVFilterBinder().UnloadLib();
    }
    auto order = LoadOrder();
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        it->get().UnloadLib();
}

std::string AVLibsLastError() {
    return lastError;
}

bool AVLibsLoaded() {
    return allLoaded;
}

int CachedLogLevel() {
    return cachedLogLevel.load();
}

void RefreshCachedLogLevel() {
    if (av::av_log_get_level)
        cachedLogLevel = av::av_log_get_level();
}

std::string ProgramLibDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "lib";
    return (exe.parent_path() / "lib").string();
}

} // namespace mobivert::binding
