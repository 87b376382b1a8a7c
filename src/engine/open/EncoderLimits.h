#pragma once
// What an encoder takes beyond what it lists: picture sizes (multiples, standard sizes, largest
// sizes), sample rates and channel counts. Some encoders list their rates and layouts; others
// list nothing and refuse values when they open. A small table holds what the latter take, so
// that a value can be checked, or the nearest value taken chosen, before the encoder opens.

#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mobivert::engine {

struct PictureSize {
    int Width = 0;
    int Height = 0;
};

// Why the video encoder does not take the picture size (naming what it takes), or an empty text
// when it does.
std::string PictureSizeRefusal(const AVCodec* codec, int width, int height);
// The picture size the video encoder takes that is nearest to the given one (the size itself
// when it is taken).
PictureSize NearestPictureSize(const AVCodec* codec, int width, int height);

// Why the audio encoder does not take the sample rate or the channel layout (naming what it
// takes), or an empty text when it does.
std::string SampleRateRefusal(const AVCodec* codec, int rate);
std::string ChannelLayoutRefusal(const AVCodec* codec, const AVChannelLayout& layout);
// The rate the audio encoder takes instead of the given one, or 0 when it takes that one: the
// highest taken rate not above it, else the lowest above it.
int NearestSampleRate(const AVCodec* codec, int rate);
// The bit rate (bit/s) the audio encoder takes at the sample rate instead of the given one, or 0
// when it takes that one: the least it takes for a lower one, the nearest of the rates it
// takes for one it does not (MPEG audio layer 2).
int64_t NearestBitRate(const AVCodec* codec, int sampleRate, int64_t bitRate);
// The highest bit rate (bit/s) a derived audio bit rate may have for the encoder at the channel
// count, or 0 when the encoder has no ceiling of its own (PCM and lossless codecs take none).
// A source's bit rate handed on to a lossy encoder (a 7.1 PCM track's 6144 kb/s made into WMA)
// is held to what the encoder and its format are made for.
int64_t HighestDerivedBitRate(AVCodecID id, int channels);
// The layout the audio encoder takes instead of the given one, or nothing when it takes that
// one: a taken layout with the same channel count, else mono for an encoder that takes only
// mono, else stereo (or its first layout when it takes no stereo).
std::optional<AVChannelLayout> NearestChannelLayout(const AVCodec* codec,
                                                    const AVChannelLayout& layout);

} // namespace mobivert::engine
