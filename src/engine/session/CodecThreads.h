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

// The cores one of the conversions running at once has to itself, at least 1.
int32_t CoresOfOneRun(int32_t concurrentRuns);

// The automatic count for a codec that can use threads, given the cores this conversion has
// (share): 1 on a single core; otherwise the share for decoders (more frame threads would
// convert faster beside an encoder's own thread, but each holds a picture back, and the check
// for timestamp jumps, which follows the decoded pictures, then misjudges a jump by as many
// pictures: at a join of two streams, or in a damaged one, as many pictures are lost); the share
// plus two pictures in flight for encoders that work ahead on threads of their own (libx264);
// half the share for slice-threaded encoders.
int32_t AutomaticThreadCount(const AVCodec* codec, int32_t share);

// The thread count to open the codec with: 1 for a codec that cannot use threads; otherwise the
// requested count (at most MaxCodecThreads), or for 0 the automatic count for the usable cores
// divided by the conversions running at once.
int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

// Whether a video encoder codes on a thread of its own, apart from the conversion's thread: with
// automatic threads (none asked for), when the conversion has more than one core, for encoders
// that do not already work ahead on threads of their own.
bool EncodesOnItsOwnThread(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

} // namespace mobivert::engine
