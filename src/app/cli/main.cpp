// mobivert-cli: the command-line front end.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"

#include <cstdio>
#include <string>

namespace {

std::string VersionText(unsigned version) {
    return std::to_string(version >> 16) + "." + std::to_string((version >> 8) & 0xff) + "." +
           std::to_string(version & 0xff);
}

int PrintLibraryVersions() {
    using namespace mobivert::binding;
    if (!LoadAVLibs(ProgramLibDirectory(), true)) {
        std::fprintf(stderr, "%s\n", AVLibsLastError().c_str());
        return 1;
    }
    std::printf("libavcodec    %s\n", VersionText(av::avcodec_version()).c_str());
    std::printf("libavformat   %s\n", VersionText(av::avformat_version()).c_str());
    std::printf("libavutil     %s\n", VersionText(av::avutil_version()).c_str());
    std::printf("libswscale    %s\n", VersionText(av::swscale_version()).c_str());
    std::printf("libswresample %s\n", VersionText(av::swresample_version()).c_str());
    std::printf("libavfilter   %s\n", VersionText(av::avfilter_version()).c_str());
    UnloadAVLibs();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "--version";
    if (command == "--version")
        return PrintLibraryVersions();
    std::fprintf(stderr, "usage: mobivert-cli --version\n");
    return 2;
}
