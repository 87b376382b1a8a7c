#include "converter/SizeCorrection.h"

#include <algorithm>
#include <cmath>

namespace mobivert::converter {

std::optional<int32_t> CorrectedVideoBitRate(int64_t targetBytes, int64_t writtenBytes,
                                             int64_t videoBytes, int32_t videoBitRate) {
    if (targetBytes <= 0 || writtenBytes <= 0 || videoBytes <= 0 || videoBitRate <= 0)
        return std::nullopt;
    const double miss = static_cast<double>(writtenBytes - targetBytes) / targetBytes;
    if (std::fabs(miss) <= SIZE_TOLERANCE)
        return std::nullopt;
    const int64_t rest = std::max<int64_t>(0, writtenBytes - videoBytes);
    const int64_t videoShare = targetBytes - rest;
    if (videoShare <= 0)
        return std::nullopt;
    // Rate control is near enough proportional over a step this small; a larger step than
    // fourfold either way is no correction but a fault, and is not taken.
    const double ratio = static_cast<double>(videoShare) / static_cast<double>(videoBytes);
    if (ratio < 0.25 || ratio > 4.0)
        return std::nullopt;
    const double corrected = std::round(videoBitRate * ratio);
    return static_cast<int32_t>(std::clamp(corrected, 1.0, 2147483647.0));
}

std::optional<int32_t> CorrectedVideoBitRate(int64_t targetBytes, const TSizeAttempt& last,
                                             const std::optional<TSizeAttempt>& earlier) {
    const std::optional<int32_t> proportional =
        CorrectedVideoBitRate(targetBytes, last.WrittenBytes, last.VideoBytes, last.VideoBitRate);
    if (!proportional || !earlier || earlier->VideoBitRate == last.VideoBitRate)
        return proportional;
    const bool lastOver = last.WrittenBytes > targetBytes;
    const bool earlierOver = earlier->WrittenBytes > targetBytes;
    if (lastOver == earlierOver || earlier->WrittenBytes == last.WrittenBytes)
        return proportional;
    // Between the two rates, where the line through both attempts reaches the target.
    const double share = static_cast<double>(targetBytes - earlier->WrittenBytes) /
                         static_cast<double>(last.WrittenBytes - earlier->WrittenBytes);
    const double rate = earlier->VideoBitRate +
                        share * (static_cast<double>(last.VideoBitRate) - earlier->VideoBitRate);
    return static_cast<int32_t>(std::clamp(std::round(rate), 1.0, 2147483647.0));
}

} // namespace mobivert::converter
