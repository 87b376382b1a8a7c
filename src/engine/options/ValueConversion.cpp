#include "engine/options/ValueConversion.h"

#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace mobivert::engine {

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(result.data(), result.size(), format, args);
        result.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return result;
}

std::string TrimControl(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    return text.substr(first, last - first);
}

namespace {

// Reads the whole-number syntax into a magnitude and a sign; false when the text is not one
// number or the magnitude exceeds limit (decimal) or hexLimit (hexadecimal).
bool ParseWhole(const std::string& text, uint64_t limitPositive, uint64_t limitNegative,
                uint64_t hexLimit, int64_t& value) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    bool hex = false;
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X')) {
        hex = true;
        ++pos;
    } else if (pos + 1 < text.size() && text[pos] == '0' &&
               (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        hex = true;
        pos += 2;
    }
    if (pos >= text.size())
        return false;
    uint64_t magnitude = 0;
    const char* first = text.data() + pos;
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, magnitude, hex ? 16 : 10);
    if (error != std::errc() || end != last)
        return false;
    if (hex) {
        if (magnitude > hexLimit)
            return false;
        // A hexadecimal text names the bit pattern of the number; the caller narrows it.
        uint64_t bits = negative ? (0 - magnitude) : magnitude;
        value = static_cast<int64_t>(bits);
        return true;
    }
    if (negative) {
        if (magnitude > limitNegative)
            return false;
        value = magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
        return true;
    }
    if (magnitude > limitPositive)
        return false;
    value = static_cast<int64_t>(magnitude);
    return true;
}

[[noreturn]] void NotInteger(const std::string& text) {
    throw FFMpegException(FormatText("'%s' is not a valid integer value", text.c_str()));
}

} // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
    int64_t wide = 0;
    if (!ParseWhole(text, std::numeric_limits<int32_t>::max(),
                    uint64_t(std::numeric_limits<int32_t>::max()) + 1,
                    std::numeric_limits<uint32_t>::max(), wide))
        return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
    return true;
}

bool TryStrToInt64(const std::string& text, int64_t& value) {
    return ParseWhole(text, std::numeric_limits<int64_t>::max(),
                      uint64_t(std::numeric_limits<int64_t>::max()) + 1,
                      std::numeric_limits<uint64_t>::max(), value);
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        NotInteger(text);
    return value;
}

int64_t StrToInt64(const std::string& text) {
    int64_t value = 0;
    if (!TryStrToInt64(text, value))
        NotInteger(text);
    return value;
}

namespace {

// Length of the decimal number (digits, optional fraction, optional exponent) at text[pos].
size_t DecimalSpan(const std::string& text, size_t pos) {
    size_t start = pos;
    size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        ++pos;
        ++digits;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            ++pos;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        size_t exponent = pos + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        size_t exponentDigits = exponent;
        while (exponentDigits < text.size() && text[exponentDigits] >= '0' &&
               text[exponentDigits] <= '9')
            ++exponentDigits;
        if (exponentDigits > exponent)
            pos = exponentDigits;
    }
    return pos - start;
}

bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

bool TryStrToFloat(const std::string& text, double& value) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    size_t length = DecimalSpan(text, pos);
    if (length == 0)
        return false;
    size_t end = pos + length;
    for (size_t rest = end; rest < text.size(); ++rest)
        if (text[rest] != ' ')
            return false;
    double magnitude = 0;
    auto [stop, error] = std::from_chars(text.data() + pos, text.data() + end, magnitude);
    if (error != std::errc() || stop != text.data() + end || !std::isfinite(magnitude))
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

double StrToFloat(const std::string& text) {
    double value = 0;
    if (!TryStrToFloat(text, value))
        throw FFMpegException(FormatText("'%s' is not a valid floating point value", text.c_str()));
    return value;
}

bool TryStrToSingle(const std::string& text, float& value) {
    double wide = 0;
    if (!TryStrToFloat(text, wide) || std::fabs(wide) > std::numeric_limits<float>::max())
        return false;
    value = static_cast<float>(wide);
    return true;
}

float StrToSingle(const std::string& text) {
    float value = 0;
    if (!TryStrToSingle(text, value))
        throw FFMpegException(FormatText("'%s' is not a valid floating point value", text.c_str()));
    return value;
}

double LeadingDouble(const std::string& text, size_t start, size_t& end) {
    end = start;
    size_t pos = start;
    while (pos < text.size() && IsCSpace(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    size_t length = DecimalSpan(text, pos);
    if (length == 0)
        return 0;
    double magnitude = 0;
    auto [stop, error] = std::from_chars(text.data() + pos, text.data() + pos + length, magnitude);
    if (error == std::errc::result_out_of_range)
        magnitude = HUGE_VAL;
    else if (error != std::errc())
        return 0;
    end = static_cast<size_t>(stop - text.data());
    if (error == std::errc::result_out_of_range)
        end = pos + length;
    return negative ? -magnitude : magnitude;
}

int64_t ParseTimeValue(const std::string& optionName, const std::string& text, bool isDuration) {
    int64_t microseconds = 0;
    if (av::av_parse_time(&microseconds, text.c_str(), isDuration ? 1 : 0) < 0)
        throw FFMpegException(FormatText("Invalid %s specification for %s: %s",
                                         isDuration ? "duration" : "date", optionName.c_str(),
                                         text.c_str()));
    return microseconds;
}

} // namespace mobivert::engine
