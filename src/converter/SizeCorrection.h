#pragma once
// Landing an output at a size asked for: the encoders' rate control misses by several percent
// on short outputs (libx265 and libvpx plan for more pictures than a clip of a second or two
// has, and undershoot), and the sound and the container seldom take exactly what was planned
// for them. The written output tells what each took, so the output pass is coded again with
// the video's bit rate corrected by what the video took against what it should have taken.

#include <cstdint>
#include <optional>

namespace mobivert::converter {

// Within this share of the size an output counts as landed; outside it the output pass is
// coded again (the size asked for is met within 5 %, so this leaves room for the encoder).
inline constexpr double SIZE_TOLERANCE = 0.03;
// The most times the output pass is coded again.
inline constexpr int MAX_SIZE_CORRECTIONS = 2;

// The video bit rate for another output pass when an output of `writtenBytes`, of which the
// coded video took `videoBytes`, coded at `videoBitRate` misses `targetBytes` by more than the
// tolerance: what the video may take (the target less what the rest took) against what it
// took. Nullopt when the output landed, or nothing can be corrected (no video was counted, the
// rest alone exceeds the target).
std::optional<int32_t> CorrectedVideoBitRate(int64_t targetBytes, int64_t writtenBytes,
                                             int64_t videoBytes, int32_t videoBitRate);

// One coding of the output pass: the video bit rate asked, the bytes written and the video's.
struct TSizeAttempt {
    int32_t VideoBitRate = 0;
    int64_t WrittenBytes = 0;
    int64_t VideoBytes = 0;
};

// As above for the last attempt; when an earlier one missed on the other side of the target,
// the rate where the straight line through both meets it instead. Near a short clip's target
// SVT-AV1's constant rate answers a step of a sixth in rate with a third in size, so a step in
// proportion from the last attempt overshoots the other way.
std::optional<int32_t> CorrectedVideoBitRate(int64_t targetBytes, const TSizeAttempt& last,
                                             const std::optional<TSizeAttempt>& earlier);

} // namespace mobivert::converter
