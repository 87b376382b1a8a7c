#pragma once
// Conversions of option value texts into numbers, with the engine's refusal messages, and small
// text helpers of the option layer. None of them depends on the process locale: the decimal
// separator is always ".".

#include <cstdint>
#include <string>

namespace mobivert::engine {

// printf-style formatting into a std::string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Removes blanks and control characters (every byte up to 0x20) at both ends.
std::string TrimControl(const std::string& text);

// Whole numbers: optional leading spaces, optional sign, then decimal digits, or hexadecimal
// digits after "$", "x", "X", "0x" or "0X". Nothing may follow. Hexadecimal texts may use the
// full unsigned range of the type (they wrap to negative numbers). Failure: FFMpegException
// "'<value>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
int64_t StrToInt64(const std::string& text);
// The same syntax without a failure: false when the text is not a whole number of the range.
bool TryStrToInt(const std::string& text, int32_t& value);
bool TryStrToInt64(const std::string& text, int64_t& value);

// Decimal numbers with "." as separator and an optional exponent, blanks allowed around them.
// Failure: FFMpegException "'<value>' is not a valid floating point value".
double StrToFloat(const std::string& text);
bool TryStrToFloat(const std::string& text, double& value);
// The same for single-precision fields: numbers beyond its range are refused too.
float StrToSingle(const std::string& text);
bool TryStrToSingle(const std::string& text, float& value);

// The decimal number at the start of text[start...] as C's strtod reads it, independent of the
// locale: leading white space, a sign, digits with an optional fraction and exponent. end is the
// index after the number (start and value 0 when there is none).
double LeadingDouble(const std::string& text, size_t start, size_t& end);

// Microseconds of a duration or date text through the library's time parser. Failure:
// FFMpegException "Invalid duration specification for <option>: <value>" (or "date").
int64_t ParseTimeValue(const std::string& optionName, const std::string& text, bool isDuration);

} // namespace mobivert::engine
