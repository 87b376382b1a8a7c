// Target presets: one call sets everything an output needs to conform to a video disc or
// camcorder format, for the television norm that is given or detected from the frame rate.

#include "binding/AVFormatHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <cmath>

namespace mobivert::engine {

namespace {

enum class Norm { PAL, NTSC, Film };

// A frame rate in thousandths of a frame per second, rounded half to even; 0 when unknown.
int64_t MilliFps(int64_t num, int64_t den) {
    if (num <= 0 || den <= 0)
        return 0;
    return static_cast<int64_t>(std::nearbyint(static_cast<double>(num) * 1000.0 / den));
}

bool NormOfRate(int64_t milliFps, Norm& norm) {
    if (milliFps == 25000) {
        norm = Norm::PAL;
        return true;
    }
    if (milliFps == 29970 || milliFps == 23976) {
        norm = Norm::NTSC;
        return true;
    }
    return false;
}

Norm DetectNorm(TCustomFFmpeg& session, const std::string& fallback) {
    if (session.FrameRate.den == 0)
        throw FFMpegException("frame_rate is invalid.");
    Norm norm = Norm::PAL;
    bool found = NormOfRate(MilliFps(session.FrameRate.num, session.FrameRate.den), norm);
    for (int file = 0; !found && file < session.InputFileCount; ++file) {
        AVFormatContext* input = session.InputFiles[file];
        if (!input)
            continue;
        for (unsigned i = 0; !found && i < input->nb_streams; ++i) {
            AVStream* stream = input->streams[i];
            if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                continue;
            // The stream's own frame rate, the reciprocal of its decoder's frame time base.
            AVRational rate = av::av_guess_frame_rate(input, stream, nullptr);
            found = NormOfRate(MilliFps(rate.num, rate.den), norm);
        }
    }
    if (!found)
        norm = fallback == "film" ? Norm::Film : fallback == "ntsc" ? Norm::NTSC : Norm::PAL;
    if (session.Verbose > 0 && session.OnLog)
        session.Log(1, FormatText("Assuming %s for target.", norm == Norm::PAL ? "PAL" : "NTSC"));
    return norm;
}

const char* FrameRateText(Norm norm) {
    switch (norm) {
    case Norm::PAL:
        return "25";
    case Norm::NTSC:
        return "30000/1001";
    case Norm::Film:
        return "24000/1001";
    }
    return "25";
}

void AssumeAspect(TCustomFFmpeg& session, const char* aspect) {
    if (session.FrameAspectRatio != 0.0f)
        return;
    session.Log(1, FormatText("Assuming %s for aspect ratio", aspect));
    session.SetFrameAspectRatio(aspect);
}

void StereoWhenMono(TCustomFFmpeg& session) {
    if (session.AudioChannels == 1)
        session.AudioChannels = 2;
}

} // namespace

void TCustomFFmpeg::SetTarget(const std::string& target, const std::string& normText,
                              const std::string& fallbackNorm) {
    Norm norm;
    if (normText == "pal")
        norm = Norm::PAL;
    else if (normText == "ntsc")
        norm = Norm::NTSC;
    else if (normText == "film")
        norm = Norm::Film;
    else
        norm = DetectNorm(*this, fallbackNorm);
    bool pal = norm == Norm::PAL;
    const char* gop = pal ? "15" : "18";

    if (target == "vcd") {
        SetVideoCodec("mpeg1video");
        SetAudioCodec("mp2");
        SetOutputFormat("vcd");
        SetFrameSize(pal ? "352x288" : "352x240");
        SetFrameRate(FrameRateText(norm));
        SetGenericOption("gop", gop);
        SetGenericOption("b", "1150000");
        SetGenericOption("maxrate", "1150000");
        SetGenericOption("minrate", "1150000");
        SetGenericOption("bufsize", "327680");
        SetGenericOption("ab", "224000");
        AudioSampleRate = 44100;
        AudioChannels = 2;
        SetGenericOption("packetsize", "2324");
        SetGenericOption("muxrate", "1411200");
        MuxPreload = 0.44f;
        AssumeAspect(*this, "4:3");
    } else if (target == "svcd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("mp2");
        SetOutputFormat("svcd");
        SetFrameSize(pal ? "480x576" : "480x480");
        SetFrameRate(FrameRateText(norm));
        SetGenericOption("gop", gop);
        SetGenericOption("b", "2040000");
        SetGenericOption("maxrate", "2516000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("flags", "+scan_offset");
        SetGenericOption("ab", "224000");
        AudioSampleRate = 44100;
        SetGenericOption("packetsize", "2324");
        StereoWhenMono(*this);
        AssumeAspect(*this, "4:3");
    } else if (target == "dvd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("ac3");
        SetOutputFormat("dvd");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetFrameRate(FrameRateText(norm));
        SetGenericOption("gop", gop);
        SetGenericOption("b", "6000000");
        SetGenericOption("maxrate", "9000000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("packetsize", "2048");
        SetGenericOption("muxrate", "10080000");
        SetGenericOption("ab", "448000");
        AudioSampleRate = 48000;
        StereoWhenMono(*this);
        AssumeAspect(*this, "16:9");
    } else if (target == "dv" || target == "dv50") {
        SetOutputFormat("dv");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetPixelFormat(target == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        SetFrameRate(FrameRateText(norm));
        AudioSampleRate = 48000;
        AudioChannels = 2;
    } else {
        throw FFMpegException("Unknown target type");
    }
}

void TCustomFFmpeg::SetTargetOption(const std::string& text) {
    std::string target = TrimControl(text);
    std::string norm = "auto";
    for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
        std::string p = prefix;
        if (target.compare(0, p.size(), p) == 0) {
            norm = p.substr(0, p.size() - 1);
            target.erase(0, p.size());
            break;
        }
    }
    SetTarget(target, norm, "ntsc");
}

} // namespace mobivert::engine
