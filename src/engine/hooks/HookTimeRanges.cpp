#include "engine/session/FFmpeg.h"

#include <algorithm>

namespace mobivert::engine {

void TCustomFFmpeg::SetHookTimeRanges(const std::vector<HookTimeRange>& ranges) {
    HookTimeRanges = ranges;
    std::stable_sort(HookTimeRanges.begin(), HookTimeRanges.end(),
                     [](const HookTimeRange& a, const HookTimeRange& b) { return a.End < b.End; });
    HookRangeCount = static_cast<int32_t>(HookTimeRanges.size());
    HookRangeIndex = 0;
}

} // namespace mobivert::engine
