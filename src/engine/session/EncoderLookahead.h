#pragma once
// libx264 holds its rate-control look-ahead pictures in memory at its own padded size, about
// twice the raw picture, plus one per frame thread: some 1.2 GB at 3840x2160 with the default
// look-ahead of 40 pictures. Memory fresh to a process costs system time as it is first touched,
// and beyond a gigabyte or so the machines here spend more time on that than on coding; so,
// unless the user set the look-ahead, it is bounded for large pictures so that the look-ahead
// pictures take about LOOKAHEAD_MEMORY at most (never under MIN_LOOKAHEAD pictures, never above
// what the encoder's speed preset would use). Pictures up to 1920x1080 keep the preset's.

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mobivert::engine {

inline constexpr int64_t LOOKAHEAD_MEMORY = 384LL << 20;
inline constexpr int MIN_LOOKAHEAD = 10;

// The look-ahead libx264's speed preset uses (its documented values), 40 for an unknown one.
int PresetLookahead(const char* preset);

// The look-ahead for pictures of this size under a preset's look-ahead.
int BoundedLookahead(int width, int height, int presetLookahead);

// Sets the bounded look-ahead on a libx264 encoder context whose look-ahead was not set; other
// encoders are left alone. Call before the encoder opens.
void BoundEncoderLookahead(AVCodecContext* encoder, const AVCodec* codec);

} // namespace mobivert::engine
