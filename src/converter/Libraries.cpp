#include "converter/Libraries.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::converter {

namespace {

// A library's version number as it packs it: the major number above bit 16, the minor in bits
// 8 to 15, the micro in the lowest 8.
std::string VersionText(unsigned version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xff) + "." +
           std::to_string(version & 0xff);
}

} // namespace

std::string ProgramLibDirectory() {
    return binding::ProgramLibDirectory();
}

bool ReadLibraryVersions(std::vector<TLibraryVersion>& versions, std::string& error) {
    using namespace mobivert::binding;
    std::string filterError;
    if (!LoadAVLibs(ProgramLibDirectory(), true) || !LoadAVFilter(filterError)) {
        error = filterError.empty() ? AVLibsLastError() : filterError;
        UnloadAVLibs();
        return false;
    }
    versions = {{"libavcodec", VersionText(av::avcodec_version())},
                {"libavformat", VersionText(av::avformat_version())},
                {"libavutil", VersionText(av::avutil_version())},
                {"libswscale", VersionText(av::swscale_version())},
                {"libswresample", VersionText(av::swresample_version())},
                {"libavfilter", VersionText(av::avfilter_version())}};
    UnloadAVLibs();
    return true;
}

bool LoadLibrariesForChecks() {
    return binding::LoadAVLibs(ProgramLibDirectory(), true);
}

TOptionRefusal FirstRefusedOption(const std::vector<std::string>& lines) {
    engine::TCustomFFmpeg scratch;
    scratch.InitSession();
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        std::string refusal = scratch.OptionRefusal(name, value);
        if (!refusal.empty())
            return {line, refusal};
    }
    return {};
}

} // namespace mobivert::converter
