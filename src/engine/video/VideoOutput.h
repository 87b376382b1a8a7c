#pragma once
// The frame-rate rule of the video output path: how often a decoded picture is written.

#include <cstdint>

extern "C" {
#include <libavutil/rational.h>
}

namespace mobivert::engine {

struct VideoSyncDecision {
    int Repeat = 1;       // 0 drops the picture, 2 or more repeats it
    int64_t SyncOpts = 0; // the output position of the (first) picture written
};

// Decides for a picture whose input time is `seconds` (from the start of the output) how many
// times it is written, given the sync method (-1 automatic, 0 none, 1 drop and repeat, 2 drop
// only), the encoder's time base and the output position syncOpts of the next picture. The
// position never goes back, so no two pictures of a stream share a timestamp.
VideoSyncDecision DecideVideoSync(int method, AVRational encoderTimeBase, double seconds,
                                  int64_t syncOpts);

} // namespace mobivert::engine
