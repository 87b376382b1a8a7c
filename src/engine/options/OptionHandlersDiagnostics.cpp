// Diagnostics: the verbosity shared with the codec libraries and the per-frame video statistics
// file.

#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFmpeg.h"

#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace mobivert::engine {

void TCustomFFmpeg::SetVerbose(int32_t level) {
    Verbose = level;
    SetGlobalVerbose(level);
    if (binding::AVLibsLoaded()) {
        av::av_log_set_level(level);
        binding::RefreshCachedLogLevel();
    }
}

void TCustomFFmpeg::SetVStats() {
    // "vstats_hhnnss.log" named after the current local time, in the folder of the program;
    // an installed program's folder is not writable, and then the current folder is used.
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::string folder = ec ? std::string() : program.parent_path().string();
    if (folder.empty() || access(folder.c_str(), W_OK) != 0)
        folder = std::filesystem::current_path(ec).string();
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char clock[16];
    std::strftime(clock, sizeof clock, "%H%M%S", &local);
    SetVStatsFile(FormatText("%svstats_%s.log", folder.c_str(), clock));
}

void TCustomFFmpeg::SetVStatsFile(const std::string& name) {
    VStatsFileName = name;
}

} // namespace mobivert::engine
