// Picture geometry and rate of the next output: frame rate, frame size and display aspect ratio.

#include "binding/AVUtilHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::engine {

void TCustomFFmpeg::SetFrameRate(const std::string& text) {
    if (text.empty())
        return;
    AVRational rate{FrameRate.num, FrameRate.den};
    if (av::av_parse_video_rate(&rate, text.c_str()) < 0)
        throw FFMpegException("Incorrect frame rate");
    FrameRate = {rate.num, rate.den};
}

void TCustomFFmpeg::SetFrameSize(const std::string& text) {
    if (text.empty())
        return;
    int width = FrameWidth;
    int height = FrameHeight;
    if (av::av_parse_video_size(&width, &height, text.c_str()) < 0)
        throw FFMpegException("Incorrect frame size");
    FrameWidth = width;
    FrameHeight = height;
    FrameSizeDerived = false;
    if ((FrameWidth % 2) != 0 || (FrameHeight % 2) != 0)
        throw FFMpegException("Frame size must be a multiple of 2");
}

void TCustomFFmpeg::SetFrameAspectRatio(const std::string& text) {
    if (text.empty())
        return;
    float ratio = 0;
    size_t colon = text.find(':');
    if (colon == std::string::npos) {
        if (!TryStrToSingle(text, ratio))
            ratio = 0;
    } else {
        int32_t num = 0;
        int32_t den = 0;
        if (!TryStrToInt(text.substr(0, colon), num))
            num = 0;
        if (!TryStrToInt(text.substr(colon + 1), den))
            den = 0;
        ratio = den > 0 ? static_cast<float>(static_cast<double>(num) / den) : 0;
    }
    if (ratio == 0.0f)
        throw FFMpegException("Incorrect aspect ratio specification.");
    FrameAspectRatio = ratio;
    FrameAspectFromSource = false;
}

} // namespace mobivert::engine
