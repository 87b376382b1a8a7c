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
// (share): 1 on a single core; otherwise the share for decoders (the library's frame-threaded
// H.264 decoder may lose more pictures at a mid-stream size change the more threads it has; a
// decoder beside an encoder's own thread gets more, below); the share
// plus two pictures in flight for encoders that work ahead on threads of their own (libx264);
// half the share for slice-threaded encoders.
int32_t AutomaticThreadCount(const AVCodec* codec, int32_t share);

// The thread count to open the codec with: 1 for a codec that cannot use threads; otherwise the
// requested count (at most MaxCodecThreads), or for 0 the automatic count for the usable cores
// divided by the conversions running at once.
int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

// The automatic thread count of a decoder whose pictures go to an encoder coding on a thread of
// its own: four times the cores' share, at most 16 (1 on a single core). The decoder's frame
// threads wait on each other's reference pictures; with more pictures in flight the cores stay
// busy meanwhile (on 2 cores, 720p H.264: 8 threads convert 5 to 13 % faster than 2, most for
// the presets with a small picture, where decoding is most of the work). Automatic threads
// only: an encoder codes on its own thread only when no count was asked for.
int32_t DecoderThreadCountBesideEncoderThread(const AVCodec* codec, int32_t concurrentRuns);

// Whether a video encoder codes on a thread of its own, apart from the conversion's thread: with
// automatic threads (none asked for), when the conversion has more than one core, for encoders
// that do not already work ahead on threads of their own.
bool EncodesOnItsOwnThread(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

} // namespace mobivert::engine
