#pragma once
// Checking a finished output against what was asked of it: every stream the output was set up
// with is there, and each lasts as long as its source allows (the source stream's duration,
// limited by the start time, the recording time and the frame limits) within the larger of
// 0.5 s and 2 %. Lengths are spans from the file's start to the stream's end on both sides, so
// a stream that starts late in the source and has its gap filled in the output matches. The check
// reads the output's headers and indexes, not its media.

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {
class TCustomFFmpeg;
}

namespace mobivert::converter {

struct TExpectedStream {
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    int64_t DurationUs = -1;      // -1: not known, so not compared
    bool AttachedPicture = false; // a cover picture, matched only by a cover picture
};

// The streams of one output in their order.
struct TOutputExpectation {
    std::vector<TExpectedStream> Streams;
    // For sources whose stream lengths are guessed from the timestamps found near their start
    // and end (program and transport streams), only the whole length is sure: the longest
    // stream of the output is held to it. -1 when not used.
    int64_t LongestUs = -1;
};

// What the session's last output should hold once converted, read while its input and output
// are set up. inputStartUs is the start time the input was opened at ("ss" before the input).
TOutputExpectation ExpectedOutput(const engine::TCustomFFmpeg& session, int64_t inputStartUs);

// How far a stream's duration may be from the expected one.
int64_t DurationToleranceUs(int64_t expectedUs);

// What differs between the file and the expectation, as "video 0.4 s of 4.2 s" or "audio
// missing", several joined by ", "; empty when the output is as asked.
std::string CheckOutput(const std::string& path, const TOutputExpectation& expected);
// What the check says of an output it cannot open or read: such an output is no result.
inline constexpr const char* UnreadableOutputText = "the output cannot be read back";

} // namespace mobivert::converter
