#pragma once
// How many threads a decoder or encoder gets: the count asked for ("threads"), or, when none
// was asked for (0), the machine's cores shared among the conversions running at once.

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mobivert::engine {

// The most threads one codec gets, whatever was asked for.
constexpr int32_t MaxCodecThreads = 64;

// Cores this process may run on (its affinity mask), at least 1.
int32_t UsableCores();

// The automatic count for a codec that can use threads, given the cores this conversion has
// (share): 1 on a single core; share plus two frames in flight for codecs that work ahead (frame
// threads, or threads of their own as libx264 has); half the share for slice-threaded encoders;
// the share for slice-threaded decoders.
int32_t AutomaticThreadCount(const AVCodec* codec, int32_t share);

// The thread count to open the codec with: 1 for a codec that cannot use threads; otherwise the
// requested count (at most MaxCodecThreads), or for 0 the automatic count for the usable cores
// divided by the conversions running at once.
int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

} // namespace mobivert::engine
