// Container formats forced by name: "f" forces the next input or output, whichever is opened
// first; the component's two setters force only one side.

#include "binding/AVFormatHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::engine {

namespace {

// The old name of the image sequence format: replaced by "image2", remembered for the next
// input, and announced.
std::string ReplacePgmyuv(TCustomFFmpeg& session, const std::string& name) {
    if (name != "pgmyuv")
        return name;
    session.PgmyuvCompat = 1;
    session.Log(1, "pgmyuv format is deprecated, use image2");
    return "image2";
}

} // namespace

void TCustomFFmpeg::SetFormat(const std::string& nameText) {
    if (nameText.empty())
        return;
    std::string name = ReplacePgmyuv(*this, nameText);
    ForcedInputFormat = av::av_find_input_format(name.c_str());
    ForcedOutputFormat = av::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!ForcedInputFormat && !ForcedOutputFormat)
        throw FFMpegException("Unknown input or output format: " + name);
}

void TCustomFFmpeg::SetInputFormat(const std::string& nameText) {
    if (nameText.empty())
        return;
    std::string name = ReplacePgmyuv(*this, nameText);
    ForcedInputFormat = av::av_find_input_format(name.c_str());
    if (!ForcedInputFormat)
        throw FFMpegException("Unknown input format: " + name);
}

void TCustomFFmpeg::SetOutputFormat(const std::string& nameText) {
    if (nameText.empty())
        return;
    std::string name = ReplacePgmyuv(*this, nameText);
    ForcedOutputFormat = av::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!ForcedOutputFormat)
        throw FFMpegException("Unknown output format: " + name);
}

} // namespace mobivert::engine
