#include "engine/open/EncoderLimits.h"

#include "binding/AVUtilHlpr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace mobivert::engine {

namespace {

// Picture sizes an encoder takes; encoders not in the table take any size.
struct PictureLimit {
    AVCodecID Id;
    int Multiple;                         // width and height are multiples of this
    int MaxWidth, MaxHeight;              // 0: no limit of its own
    std::vector<PictureSize> OnlySizes{}; // when not empty, no other size is taken
    int MaxBlocks = 0;                    // most 16x16 blocks in a picture; 0: no limit
};

const std::vector<PictureLimit>& PictureLimits() {
    static const std::vector<PictureLimit> limits = {
        {AV_CODEC_ID_H263,
         4,
         1408,
         1152,
         {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}}},
        {AV_CODEC_ID_H263P, 4, 2048, 1152},
        // RealVideo 1 codes a picture as one slice, and fewer than 4096 blocks make one.
        {AV_CODEC_ID_RV10, 16, 4080, 4080, {}, 4095},
        {AV_CODEC_ID_RV20, 4, 2048, 1152},
        // 4:2:0 pictures of even sizes only.
        {AV_CODEC_ID_H264, 2, 0, 0},
        {AV_CODEC_ID_WMV1, 2, 0, 0},
        {AV_CODEC_ID_WMV2, 2, 0, 0},
    };
    return limits;
}

PictureLimit LimitOf(const AVCodec* codec) {
    for (const PictureLimit& limit : PictureLimits())
        if (codec && limit.Id == codec->id)
            return limit;
    return {codec ? codec->id : AV_CODEC_ID_NONE, 1, 0, 0};
}

// Audio encoders that list no rates or layouts but take only some.
struct AudioLimit {
    AVCodecID Id;
    int OnlyRate;    // 0: any rate up to MaxRate
    int MaxRate;     // 0: no limit of its own
    int MaxChannels; // 0: no limit of its own
    int MinBitRate;  // bit/s; 0: no limit of its own
};

constexpr AudioLimit AudioLimits[] = {
    {AV_CODEC_ID_AMR_NB, 8000, 8000, 1, 0},
    {AV_CODEC_ID_AMR_WB, 16000, 16000, 1, 0},
    {AV_CODEC_ID_WMAV1, 0, 48000, 2, 24000},
    {AV_CODEC_ID_WMAV2, 0, 48000, 2, 24000},
};

const AudioLimit* AudioLimitOf(const AVCodec* codec) {
    for (const AudioLimit& limit : AudioLimits)
        if (codec && limit.Id == codec->id)
            return &limit;
    return nullptr;
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// "a, b and c"
std::string Listed(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

int RoundToMultiple(int value, int multiple, int maximum) {
    int rounded = (value + multiple / 2) / multiple * multiple;
    if (rounded < multiple)
        rounded = multiple;
    if (maximum > 0 && rounded > maximum)
        rounded = maximum / multiple * multiple;
    return rounded;
}

int64_t Blocks(int width, int height) {
    return static_cast<int64_t>((width + 15) / 16) * ((height + 15) / 16);
}

// The largest size of the same shape, in multiples, with no more blocks than the limit.
PictureSize ShrunkToBlocks(PictureSize size, int multiple, int maxBlocks) {
    double scale = std::sqrt(static_cast<double>(maxBlocks) * 256.0 /
                             (static_cast<double>(size.Width) * size.Height));
    PictureSize shrunk{static_cast<int>(size.Width * scale) / multiple * multiple,
                       static_cast<int>(size.Height * scale) / multiple * multiple};
    shrunk.Width = std::max(shrunk.Width, multiple);
    shrunk.Height = std::max(shrunk.Height, multiple);
    while (Blocks(shrunk.Width, shrunk.Height) > maxBlocks && shrunk.Width > multiple)
        shrunk.Width -= multiple;
    return shrunk;
}

std::string Describe(const AVChannelLayout& layout) {
    char text[128] = {};
    if (av::av_channel_layout_describe(&layout, text, sizeof text) < 0)
        return std::to_string(layout.nb_channels) + " channels";
    return text;
}

AVChannelLayout DefaultLayout(int channels) {
    AVChannelLayout layout{};
    av::av_channel_layout_default(&layout, channels);
    return layout;
}

} // namespace

std::string PictureSizeRefusal(const AVCodec* codec, int width, int height) {
    if (!codec)
        return "";
    const PictureLimit limit = LimitOf(codec);
    const std::string given = ", not " + SizeText(width, height);
    const std::string encoder = std::string("Video encoder ") + codec->name;
    if (!limit.OnlySizes.empty()) {
        std::vector<std::string> sizes;
        bool taken = false;
        for (const PictureSize& size : limit.OnlySizes) {
            sizes.push_back(SizeText(size.Width, size.Height));
            taken |= size.Width == width && size.Height == height;
        }
        return taken ? "" : encoder + " takes only the picture sizes " + Listed(sizes) + given;
    }
    if (width % limit.Multiple != 0 || height % limit.Multiple != 0)
        return encoder + " takes only picture sizes whose width and height are multiples of " +
               std::to_string(limit.Multiple) + given;
    if ((limit.MaxWidth > 0 && width > limit.MaxWidth) ||
        (limit.MaxHeight > 0 && height > limit.MaxHeight))
        return encoder + " takes pictures of at most " + SizeText(limit.MaxWidth, limit.MaxHeight) +
               given;
    if (limit.MaxBlocks > 0 && Blocks(width, height) > limit.MaxBlocks)
        return encoder + " takes pictures of at most " + std::to_string(limit.MaxBlocks) +
               " blocks of 16x16 (" + std::to_string(limit.MaxBlocks * 256) + " pixels)" + given;
    return "";
}

PictureSize NearestPictureSize(const AVCodec* codec, int width, int height) {
    const PictureLimit limit = LimitOf(codec);
    if (!limit.OnlySizes.empty()) {
        PictureSize best = limit.OnlySizes.front();
        for (const PictureSize& size : limit.OnlySizes)
            if (std::abs(size.Width - width) + std::abs(size.Height - height) <
                std::abs(best.Width - width) + std::abs(best.Height - height))
                best = size;
        return best;
    }
    PictureSize size{RoundToMultiple(width, limit.Multiple, limit.MaxWidth),
                     RoundToMultiple(height, limit.Multiple, limit.MaxHeight)};
    if (limit.MaxBlocks > 0 && Blocks(size.Width, size.Height) > limit.MaxBlocks)
        size = ShrunkToBlocks(size, limit.Multiple, limit.MaxBlocks);
    return size;
}

std::string SampleRateRefusal(const AVCodec* codec, int rate) {
    if (!codec || NearestSampleRate(codec, rate) == 0)
        return "";
    const std::string encoder = std::string("Audio encoder ") + codec->name;
    const std::string given = ", not " + std::to_string(rate) + " Hz";
    const AudioLimit* limit = AudioLimitOf(codec);
    if (limit && limit->OnlyRate)
        return encoder + " takes only " + std::to_string(limit->OnlyRate) + " Hz" + given;
    if (limit)
        return encoder + " takes sample rates of at most " + std::to_string(limit->MaxRate) +
               " Hz" + given;
    std::vector<std::string> rates;
    for (const int* p = codec->supported_samplerates; p && *p; ++p)
        rates.push_back(std::to_string(*p));
    return encoder + " takes only the sample rates " + Listed(rates) + " Hz" + given;
}

int NearestSampleRate(const AVCodec* codec, int rate) {
    if (!codec)
        return 0;
    if (const AudioLimit* limit = AudioLimitOf(codec)) {
        if (limit->OnlyRate)
            return rate == limit->OnlyRate ? 0 : limit->OnlyRate;
        return limit->MaxRate > 0 && rate > limit->MaxRate ? limit->MaxRate : 0;
    }
    if (!codec->supported_samplerates)
        return 0;
    int below = 0;
    int above = 0;
    for (const int* p = codec->supported_samplerates; *p; ++p) {
        if (*p == rate)
            return 0;
        if (*p<rate&& * p> below)
            below = *p;
        if (*p > rate && (above == 0 || *p < above))
            above = *p;
    }
    return below ? below : above;
}

int64_t NearestBitRate(const AVCodec* codec, int sampleRate, int64_t bitRate) {
    if (!codec)
        return 0;
    if (const AudioLimit* limit = AudioLimitOf(codec))
        return bitRate < limit->MinBitRate ? limit->MinBitRate : 0;
    if (codec->id != AV_CODEC_ID_MP2)
        return 0;
    // Layer 2 takes the kbit/s of its table, a lower table at half the sample rates.
    static const int full[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static const int half[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int* table = sampleRate < 32000 ? half : full;
    int64_t kbit = bitRate / 1000;
    int best = table[0];
    for (int i = 0; i < 14; ++i) {
        if (table[i] == kbit)
            return 0;
        if (std::llabs(table[i] - kbit) < std::llabs(best - kbit))
            best = table[i];
    }
    return int64_t{best} * 1000;
}

// Ceilings of derived audio bit rates, in kbit/s: per channel for the codecs whose bit rate
// grows with the channels, for the whole stream for those whose format sets one limit.
//   WMA 1 and 2        160 per channel (320 for stereo, the highest rate players know)
//   AAC                160 per channel (320 for stereo)
//   Vorbis, Opus       160 / 256 per channel
//   MP3                320 (the format's highest rate)
//   MPEG layer 2       384 (the format's highest rate)
//   AC-3               160 per channel in the format's own steps: 160, 320, 448, then 640 (the
//                      format's highest rate) from four channels on
//   AMR-NB, AMR-WB     12.2 / 23.85 (the codecs' highest modes)
int64_t HighestDerivedBitRate(AVCodecID id, int channels) {
    const int64_t count = std::max(1, channels);
    switch (id) {
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_VORBIS:
        return 160000 * count;
    case AV_CODEC_ID_OPUS:
        return 256000 * count;
    case AV_CODEC_ID_MP3:
        return 320000;
    case AV_CODEC_ID_MP2:
        return 384000;
    case AV_CODEC_ID_AC3:
        return count == 1 ? 160000 : count == 2 ? 320000 : count == 3 ? 448000 : 640000;
    case AV_CODEC_ID_AMR_NB:
        return 12200;
    case AV_CODEC_ID_AMR_WB:
        return 23850;
    default:
        return 0;
    }
}

std::string ChannelLayoutRefusal(const AVCodec* codec, const AVChannelLayout& layout) {
    if (!codec || !NearestChannelLayout(codec, layout))
        return "";
    const std::string encoder = std::string("Audio encoder ") + codec->name;
    const std::string given = ", not " + Describe(layout);
    const AudioLimit* limit = AudioLimitOf(codec);
    if (limit && limit->MaxChannels == 1)
        return encoder + " takes only mono" + given;
    if (limit)
        return encoder + " takes at most " + std::to_string(limit->MaxChannels) + " channels" +
               given;
    std::vector<std::string> layouts;
    for (const AVChannelLayout* p = codec->ch_layouts; p && p->nb_channels; ++p)
        layouts.push_back(Describe(*p));
    return encoder + " takes only " + Listed(layouts) + " audio" + given;
}

std::optional<AVChannelLayout> NearestChannelLayout(const AVCodec* codec,
                                                    const AVChannelLayout& layout) {
    if (!codec)
        return std::nullopt;
    if (const AudioLimit* limit = AudioLimitOf(codec)) {
        if (limit->MaxChannels <= 0 || layout.nb_channels <= limit->MaxChannels)
            return std::nullopt;
        return DefaultLayout(limit->MaxChannels);
    }
    if (!codec->ch_layouts)
        return std::nullopt;
    const AVChannelLayout* sameCount = nullptr;
    const AVChannelLayout* stereo = nullptr;
    bool onlyMono = true;
    for (const AVChannelLayout* p = codec->ch_layouts; p->nb_channels; ++p) {
        if (av::av_channel_layout_compare(p, &layout) == 0)
            return std::nullopt;
        if (!sameCount && p->nb_channels == layout.nb_channels)
            sameCount = p;
        if (!stereo && p->nb_channels == 2)
            stereo = p;
        onlyMono = onlyMono && p->nb_channels == 1;
    }
    if (sameCount)
        return *sameCount;
    if (onlyMono || !stereo)
        return *codec->ch_layouts;
    return *stereo;
}

} // namespace mobivert::engine
