// Pixel and sample formats of the next output by name, and the lists of the names FFmpeg knows.

#include "binding/AVUtilHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::engine {

void TCustomFFmpeg::SetPixelFormat(const std::string& name) {
    if (name != "list") {
        FramePixFmt = av::av_get_pix_fmt(name.c_str());
        FramePixFmtFromSource = false;
        return;
    }
    if (!OnLog)
        return;
    // The first line is the header of the table.
    char line[128];
    for (int format = -1; format == -1 || av::av_pix_fmt_desc_get(AVPixelFormat(format));
         ++format) {
        av::av_get_pix_fmt_string(line, sizeof line, AVPixelFormat(format));
        Log(1, TrimControl(line));
    }
}

void TCustomFFmpeg::SetSampleFormat(const std::string& name) {
    if (name != "list") {
        AudioSampleFmt = av::av_get_sample_fmt(name.c_str());
        return;
    }
    if (!OnLog)
        return;
    char line[128];
    for (int format = -1; format < AV_SAMPLE_FMT_NB; ++format) {
        av::av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(format));
        Log(1, TrimControl(line));
    }
}

} // namespace mobivert::engine
