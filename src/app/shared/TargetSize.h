#pragma once
// Converting to a target size: the size typed by the user, and the video bit rate that makes an
// output of that size from the source's length, the sound's bit rate and what the container
// adds.
//
// Sizes count in powers of ten, as disks, file managers and upload limits state them: 1 kB is
// 1000 bytes, 1 MB 1000000, 1 GB 10^9. "KiB", "MiB" and "GiB" count in powers of two.

#include <cstdint>
#include <optional>
#include <string>

namespace mobivert::app {

// "25MB", "700M", "1.5GB", "800 MiB", "2g" (case and blanks between number and unit do not
// matter; a plain number counts as MB): the size in bytes; nullopt for any other text or a
// size that is not positive.
std::optional<int64_t> ParseTargetSize(const std::string& text);

// The size as the messages name it: "650 kB", "12.5 MB", "1.25 GB" (powers of ten), rounded
// up so that the size named is never less than the one meant.
std::string SizeText(int64_t bytes);

struct TTargetSizePlan {
    int64_t VideoBitRate = 0;  // bit/s
    int64_t SmallestBytes = 0; // the least target that still leaves the video a sensible rate
    bool Fits = false;         // the target leaves the video at least that rate
};

// What the container adds to the coded streams, in bytes, for an output of the given size,
// length and picture rate (headers, indexes, per-packet framing).
int64_t ContainerOverhead(int64_t bytes, double seconds, double framesPerSecond);

// A fiftieth of a bit for each pixel of each picture: the least at which libx264 and libx265
// still show pictures recognisably and reach the rate asked of them.
inline constexpr double LEAST_BITS_PER_PIXEL = 0.02;

// The least bit rate (bit/s) at which the video still shows its pictures recognisably:
// `bitsPerPixel` for each pixel of each picture, at least 32 kbit/s.
int64_t LeastVideoBitRate(int width, int height, double framesPerSecond,
                          double bitsPerPixel = LEAST_BITS_PER_PIXEL);

// The video bit rate for an output of `bytes` from `seconds` of source whose sound takes
// `audioBitRate` bit/s, and whether that target is large enough for the encoder's least
// `bitsPerPixel`.
TTargetSizePlan PlanTargetSize(int64_t bytes, double seconds, int64_t audioBitRate, int width,
                               int height, double framesPerSecond,
                               double bitsPerPixel = LEAST_BITS_PER_PIXEL);

} // namespace mobivert::app
