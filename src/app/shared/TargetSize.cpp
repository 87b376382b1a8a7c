#include "app/shared/TargetSize.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mobivert::app {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::optional<double> UnitBytes(const std::string& unit) {
    const std::string u = Lower(unit);
    if (u.empty() || u == "m" || u == "mb")
        return 1e6;
    if (u == "k" || u == "kb")
        return 1e3;
    if (u == "g" || u == "gb")
        return 1e9;
    if (u == "b")
        return 1.0;
    if (u == "kib")
        return 1024.0;
    if (u == "mib")
        return 1024.0 * 1024.0;
    if (u == "gib")
        return 1024.0 * 1024.0 * 1024.0;
    return std::nullopt;
}

// The number shown with at most `decimals` places, rounded up, trailing zeros dropped.
std::string RoundedUp(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::ceil(value * scale - 1e-9) / scale);
    std::string shown = text;
    if (shown.find('.') != std::string::npos) {
        shown.erase(shown.find_last_not_of('0') + 1);
        if (shown.back() == '.')
            shown.pop_back();
    }
    return shown;
}

// Packets the sound of a second makes (an AAC or Opus frame is about 20 ms).
constexpr double SOUND_PACKETS_PER_SECOND = 50.0;

} // namespace

std::optional<int64_t> ParseTargetSize(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const std::string trimmed = text.substr(first, last - first + 1);
    size_t numberEnd = 0;
    while (
        numberEnd < trimmed.size() &&
        (std::isdigit(static_cast<unsigned char>(trimmed[numberEnd])) || trimmed[numberEnd] == '.'))
        ++numberEnd;
    const std::string number = trimmed.substr(0, numberEnd);
    if (number.empty() || number == "." || std::count(number.begin(), number.end(), '.') > 1)
        return std::nullopt;
    std::string unit = trimmed.substr(numberEnd);
    unit.erase(0, std::min(unit.size(), unit.find_first_not_of(" \t")));
    const std::optional<double> unitBytes = UnitBytes(unit);
    if (!unitBytes)
        return std::nullopt;
    const double bytes = std::strtod(number.c_str(), nullptr) * *unitBytes;
    // Up to a petabyte; anything larger is a typing slip.
    if (!(bytes >= 1.0) || bytes > 1e15)
        return std::nullopt;
    return static_cast<int64_t>(std::llround(bytes));
}

std::string SizeText(int64_t bytes) {
    const double b = static_cast<double>(bytes);
    if (b < 1e6)
        return RoundedUp(b / 1e3, 0) + " kB";
    if (b < 1e9)
        return RoundedUp(b / 1e6, b < 1e8 ? 1 : 0) + " MB";
    return RoundedUp(b / 1e9, 2) + " GB";
}

int64_t ContainerOverhead(int64_t bytes, double seconds, double framesPerSecond) {
    // A header and index of a few kilobytes, and a dozen bytes of framing and index entry for
    // each packet; a little more for the muxer's own padding in large files.
    const double packets = seconds * (std::max(framesPerSecond, 1.0) + SOUND_PACKETS_PER_SECOND);
    return static_cast<int64_t>(4096.0 + 12.0 * packets + static_cast<double>(bytes) * 0.002);
}

int64_t LeastVideoBitRate(int width, int height, double framesPerSecond, double bitsPerPixel) {
    const double rate = std::max(width, 16) * static_cast<double>(std::max(height, 16)) *
                        std::max(framesPerSecond, 1.0) * bitsPerPixel;
    return std::max<int64_t>(32000, static_cast<int64_t>(rate));
}

TTargetSizePlan PlanTargetSize(int64_t bytes, double seconds, int64_t audioBitRate, int width,
                               int height, double framesPerSecond, double bitsPerPixel) {
    TTargetSizePlan plan;
    if (!(seconds > 0))
        return plan;
    const int64_t least = LeastVideoBitRate(width, height, framesPerSecond, bitsPerPixel);
    const double streamBits =
        static_cast<double>(bytes - ContainerOverhead(bytes, seconds, framesPerSecond)) * 8.0;
    plan.VideoBitRate =
        static_cast<int64_t>(streamBits / seconds) - std::max<int64_t>(0, audioBitRate);
    // The smallest target is the one whose video gets the least rate; the overhead grows with
    // the size a little, so it is found from the streams' bytes.
    const double leastStreamBytes =
        static_cast<double>(least + std::max<int64_t>(0, audioBitRate)) * seconds / 8.0;
    plan.SmallestBytes = static_cast<int64_t>(
        std::ceil((leastStreamBytes + ContainerOverhead(0, seconds, framesPerSecond)) / 0.998));
    plan.Fits = plan.VideoBitRate >= least;
    return plan;
}

} // namespace mobivert::app
