// Choosing the encoder's pixel format among those the output's devices decode.

#include "engine/open/PixelFormatChoice.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"

#include <vector>

namespace mobivert::engine {

namespace {

bool IsPlayableYuv420(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av::av_pix_fmt_desc_get(format);
    constexpr uint64_t kNotPlain =
        AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT;
    return desc && !(desc->flags & kNotPlain) && desc->nb_components >= 3 &&
           desc->log2_chroma_w == 1 && desc->log2_chroma_h == 1 && desc->comp[0].depth == 8;
}

bool Lists(const AVPixelFormat* list, AVPixelFormat format) {
    for (; *list != AV_PIX_FMT_NONE; ++list)
        if (*list == format)
            return true;
    return false;
}

} // namespace

AVPixelFormat DevicePixelFormat(const AVCodec* codec, AVPixelFormat source) {
    if (!codec || !codec->pix_fmts)
        return source;
    std::vector<AVPixelFormat> playable;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (IsPlayableYuv420(*p))
            playable.push_back(*p);
    if (playable.empty())
        return Lists(codec->pix_fmts, source) ? source : codec->pix_fmts[0];
    for (AVPixelFormat format : playable)
        if (format == source)
            return source;
    if (source == AV_PIX_FMT_NONE)
        return playable.front();
    playable.push_back(AV_PIX_FMT_NONE);
    AVPixelFormat best = av::avcodec_find_best_pix_fmt_of_list(playable.data(), source, 0, nullptr);
    return best == AV_PIX_FMT_NONE ? playable.front() : best;
}

} // namespace mobivert::engine
