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
// (share): 1 on a single core; otherwise the share for decoders; the share plus two pictures in
// flight for encoders that work ahead on threads of their own (libx264); half the share for
// slice-threaded encoders.
int32_t AutomaticThreadCount(const AVCodec* codec, int32_t share);

// The thread count to open the codec with: 1 for a codec that cannot use threads; otherwise the
// requested count (at most MaxCodecThreads), or for 0 the automatic count for the usable cores
// divided by the conversions running at once.
int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

// The thread count for a decoder that feeds an encoder coding on a thread of its own: with
// automatic threads, a frame-threaded decoder (H.264, H.265, VP9, ...) of pictures up to 1280 x
// 720 (pixels, the area given) gets four frame threads a core. Its frame threads wait on each
// other's reference pictures, so with one a core the cores idle beside the encoder's thread;
// each thread more holds one picture more back. Larger pictures give two frame threads enough
// to do, and there the threads more cost their memory and gain nothing. Otherwise as
// CodecThreadCount.
int32_t DecoderThreadCountBesideEncoderThread(const AVCodec* codec, int32_t requested,
                                              int32_t concurrentRuns, int64_t pictureArea);

// Whether a video encoder codes on a thread of its own, apart from the conversion's thread: with
// automatic threads (none asked for), when the conversion has more than one core, for encoders
// that do not already work ahead on threads of their own.
bool EncodesOnItsOwnThread(const AVCodec* codec, int32_t requested, int32_t concurrentRuns);

} // namespace mobivert::engine
