#include "converter/OptionRecords.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>

namespace mobivert::converter {

namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

int64_t MillisecondsOrMinusOne(const std::string& text) {
    std::string value = Trim(text);
    int64_t ms = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (value.empty() || error != std::errc() || end != value.data() + value.size())
        return -1;
    return ms;
}

// Times too large to be held in microseconds stay at the largest that can.
int64_t MillisecondsToMicroseconds(int64_t ms) {
    constexpr int64_t Limit = std::numeric_limits<int64_t>::max() / 1000;
    return std::clamp(ms, -Limit, Limit) * 1000;
}

// Minutes to add to local standard time to get UTC.
double StandardBiasMinutes() {
    tzset();
    return static_cast<double>(timezone) / 60.0;
}

double LocalNowInDays() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::tm asUtc = local;
    asUtc.tm_isdst = 0;
    // The local wall-clock fields read as if they were UTC give the local date-time's day count.
    std::time_t wall = timegm(&asUtc);
    return static_cast<double>(wall) / 86400.0 + 25569.0;
}

} // namespace

int64_t TimestampToUnixSeconds(double days) {
    double d = days == 0.0 ? LocalNowInDays() : days;
    return static_cast<int64_t>(
        std::nearbyint((d - 25569.0 + StandardBiasMinutes() / 1440.0) * 86400.0));
}

std::vector<engine::HookTimeRange> ParseHookRanges(const std::string& text) {
    std::vector<engine::HookTimeRange> ranges;
    std::string rest = Trim(text);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string piece = Trim(rest.substr(0, comma));
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        size_t dash = piece.find('-');
        std::string startText = piece.substr(0, dash);
        std::string endText = dash == std::string::npos ? "" : piece.substr(dash + 1);
        int64_t start = MillisecondsToMicroseconds(MillisecondsOrMinusOne(startText));
        int64_t end = MillisecondsToMicroseconds(MillisecondsOrMinusOne(endText));
        if (start <= end && end >= 0)
            ranges.push_back({start, end});
    }
    return ranges;
}

const char* TargetName(int32_t target) {
    switch (target) {
    case 1:
        return "vcd";
    case 2:
        return "svcd";
    case 3:
        return "dvd";
    default:
        return "";
    }
}

const char* TargetNormName(int32_t norm) {
    switch (norm) {
    case 1:
        return "pal";
    case 2:
        return "ntsc";
    default:
        return "auto";
    }
}

const char* TargetFallbackNormName(int32_t norm) {
    return norm == 1 ? "pal" : "ntsc";
}

} // namespace mobivert::converter
