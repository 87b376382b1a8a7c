#pragma once
// How long a source is by its own account, as the engine trusts it for progress and for
// telling damaged timestamps from real ones.

#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

// The source's length in microseconds, or AV_NOPTS_VALUE when it does not say. The longest of
// its streams' own durations wins over the container's span, which a stream whose timestamps
// start hours away from the others stretches.
int64_t KnownSourceLength(const AVFormatContext* ic);

// True when the length comes from the source's headers or timestamps, not from an estimate
// from its bit rate (which a variable bit rate can put far off).
bool SourceLengthIsReliable(const AVFormatContext* ic);

} // namespace mobivert::engine
