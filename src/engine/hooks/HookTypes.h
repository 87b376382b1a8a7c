#pragma once
// Types the engine shares with the frame-hook side of the converter.

#include <cstdint>

namespace mobivert::engine {

enum THookAction : int32_t { haContinue = 0, haIgnore = 1, haStop = 2 };

// A 24-bit RGB picture handed to the custom frame hook (defined by the converter).
class TBitmap;

struct HookTimeRange {
    int64_t Start;
    int64_t End;
};

} // namespace mobivert::engine
