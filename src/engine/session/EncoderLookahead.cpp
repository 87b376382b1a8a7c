#include "engine/session/EncoderLookahead.h"

#include "binding/AVUtilHlpr.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace mobivert::engine {

int PresetLookahead(const char* preset) {
    struct Entry {
        const char* Name;
        int Lookahead;
    };
    static constexpr Entry kPresets[] = {
        {"ultrafast", 0}, {"superfast", 0}, {"veryfast", 10}, {"faster", 20},   {"fast", 30},
        {"medium", 40},   {"slow", 50},     {"slower", 60},   {"veryslow", 60}, {"placebo", 60},
    };
    for (const Entry& entry : kPresets)
        if (preset && std::strcmp(preset, entry.Name) == 0)
            return entry.Lookahead;
    return 40;
}

int BoundedLookahead(int width, int height, int presetLookahead) {
    // libx264's own picture: the 4:2:0 planes with their padding plus the quarter-size planes
    // its look-ahead analyses, about three bytes per pixel.
    const int64_t pictureBytes = std::max<int64_t>(1, int64_t{width} * height * 3);
    const int64_t fits = LOOKAHEAD_MEMORY / pictureBytes;
    return static_cast<int>(
        std::min<int64_t>(presetLookahead, std::max<int64_t>(MIN_LOOKAHEAD, fits)));
}

void BoundEncoderLookahead(AVCodecContext* encoder, const AVCodec* codec) {
    if (!encoder || !codec || !codec->name || std::strcmp(codec->name, "libx264") != 0 ||
        !encoder->priv_data)
        return;
    int64_t asked = -1;
    if (av::av_opt_get_int(encoder->priv_data, "rc-lookahead", 0, &asked) < 0 || asked >= 0)
        return;
    uint8_t* preset = nullptr;
    av::av_opt_get(encoder->priv_data, "preset", 0, &preset);
    const int presetLookahead = PresetLookahead(reinterpret_cast<const char*>(preset));
    av::av_freep(&preset);
    const int bounded = BoundedLookahead(encoder->width, encoder->height, presetLookahead);
    if (bounded < presetLookahead)
        av::av_opt_set_int(encoder->priv_data, "rc-lookahead", bounded, 0);
}

} // namespace mobivert::engine
