#pragma once
// Types the engine shares with the frame-hook side of the converter.

#include <cstdint>
#include <vector>

namespace mobivert::engine {

enum THookAction : int32_t { haContinue = 0, haIgnore = 1, haStop = 2 };

// A 24-bit RGB picture handed to the custom frame hook (defined by the converter).
class TBitmap;

struct HookTimeRange {
    int64_t Start;
    int64_t End;
};

// Which pictures the frame hooks work on: the time ranges the owner gave (microseconds, sorted
// by their end), and how far the run has got through them and through the pictures.
struct THookSelection {
    std::vector<HookTimeRange> HookTimeRanges;
    int32_t HookRangeIndex = 0;
    int32_t HookRangeCount = 0;
    int32_t HookAction = haContinue;
    int32_t HookFrameNumber = 0;
};

} // namespace mobivert::engine
