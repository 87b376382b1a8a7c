#include "app/cli/InfoCommand.h"

#include "app/cli/TerminalText.h"
#include "app/shared/ConversionDriver.h"
#include "converter/AVConverter.h"
#include "converter/Libraries.h"

#include <cstdio>
#include <string>
#include <vector>

namespace mobivert::cli {

namespace {

std::string Seconds(int64_t microseconds) {
    if (microseconds < 0)
        return "unknown";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(microseconds) / 1e6);
    return text;
}

std::string Kbits(int64_t bitRate) {
    return bitRate > 0 ? ", " + std::to_string((bitRate + 500) / 1000) + " kbit/s" : "";
}

std::string Figure(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The container and stream lines of --info. Codec names, formats and languages come from the
// file and its libraries, so each line is printed as plain text.
void PrintInfo(const converter::TAVProbe& probe) {
    const converter::ContainerInfo container = probe.Container();
    std::string line = "  Container: " + container.Name;
    if (!container.LongName.empty())
        line += " (" + container.LongName + ")";
    line += ", duration " + Seconds(container.DurationUs) + Kbits(container.BitRate) + ", " +
            std::to_string(probe.StreamCount()) + " stream(s)";
    WriteLine(stdout, line);
    for (int i = 0; i < probe.StreamCount(); ++i) {
        const AVMediaType type = probe.StreamType(i);
        line = "  Stream #" + std::to_string(i) + ": ";
        if (type == AVMEDIA_TYPE_VIDEO) {
            converter::VideoStreamInfo v = probe.VideoInfo(i);
            line += std::string("video ") + v.CodecName + ", " + std::to_string(v.Width) + "x" +
                    std::to_string(v.Height);
            if (v.FrameRateNum > 0 && v.FrameRateDen > 0)
                line += Figure(", %.3g fps", static_cast<double>(v.FrameRateNum) / v.FrameRateDen);
            if (v.DisplayAspect > 0)
                line += Figure(", display aspect %.3f", v.DisplayAspect);
            if (v.Rotation > 0 || v.Mirrored == 1)
                line += ", shown turned " + std::to_string(v.Rotation) + " degrees" +
                        (v.Mirrored == 1 ? ", mirrored" : "");
            line += Kbits(v.BitRate) + ", duration " + Seconds(v.DurationScaled);
            if (v.Language[0])
                line += std::string(", language ") + v.Language;
        } else if (type == AVMEDIA_TYPE_AUDIO) {
            converter::AudioStreamInfo a = probe.AudioInfo(i);
            line += std::string("audio ") + a.CodecName + ", " + std::to_string(a.Channels) +
                    " channel(s), " + std::to_string(a.SampleRate) + " Hz" + Kbits(a.BitRate) +
                    ", duration " + Seconds(a.DurationScaled);
            if (a.Language[0])
                line += std::string(", language ") + a.Language;
        } else {
            line += probe.StreamTypeName(i) + " " + probe.StreamCodecName(i);
        }
        WriteLine(stdout, line);
    }
}

} // namespace

int PrintLibraryVersions() {
    std::vector<converter::TLibraryVersion> versions;
    std::string error;
    if (!converter::ReadLibraryVersions(versions, error)) {
        WriteLine(stderr, error);
        return 1;
    }
    for (const converter::TLibraryVersion& library : versions)
        std::printf("%-13s %s\n", library.Name.c_str(), library.Version.c_str());
    return 0;
}

int Info(const TCliOptions& options) {
    converter::TAVConverter converter;
    converter.SetLogLevel(converter::llQuiet);
    if (!converter.LoadAVLib(converter::ProgramLibDirectory(), true)) {
        WriteLine(stderr, app::MSG_LIB_NOT_LOADED);
        WriteLine(stderr, PrintableLine(converter.LastError()));
        return 1;
    }
    int status = 0;
    converter::TAVProbe& probe = converter.Probe();
    for (const std::string& file : options.Files) {
        std::string reason = app::CheckSourceFile(file);
        if (reason.empty() && !probe.Open(file))
            reason = probe.LastError();
        if (!reason.empty()) {
            WriteLine(stdout, Printable(file) + ": Error found: " + PrintableLine(reason));
            status = 1;
            continue;
        }
        WriteLine(stdout, file);
        PrintInfo(probe);
        probe.Close();
    }
    return status;
}

} // namespace mobivert::cli
