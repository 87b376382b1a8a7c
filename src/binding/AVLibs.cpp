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

namespace mobivert::binding {

namespace {

bool allLoaded = false;
std::string lastError;
std::atomic<int> cachedLogLevel{AV_LOG_INFO};

// Dependencies come first: a library loaded by full path from the "lib" folder is matched by its
// soname when a later library names it as a dependency, so the bundled copies are the ones the
// others link against instead of a second, system-wide copy.
std::array<std::reference_wrapper<LibraryBinder>, 6> LoadOrder() {
    return {AVUtilBinder(),  SwResampleBinder(), SwScaleBinder(),
            AVCodecBinder(), AVFormatBinder(),   AVFilterBinder()};
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
    allLoaded = ok;
    if (ok)
        RefreshCachedLogLevel();
    else
        UnloadAVLibs();
    return ok;
}

void UnloadAVLibs() {
    allLoaded = false;
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
