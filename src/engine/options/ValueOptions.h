#pragma once
// The options whose handler only converts the value text and stores it in an option field: each
// is declared by its name, the field, the type of its value and the range it takes, and one
// routine applies them all. Options with rules of their own keep handlers (OptionTable.cpp).

#include "engine/session/SessionOptions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace mobivert::engine {

enum class ValueType {
    Flag,     // the value is ignored; the field takes the option's mark
    Int,      // a 32-bit whole number
    Int64,    // a 64-bit whole number
    Single,   // a decimal number that a single-precision field holds
    Double,   // a decimal number read at double precision, stored in a single-precision field
    Text,     // the value as given, empty ones too
    Duration, // the microseconds of a duration text
};

// The numbers an option takes: from Lowest (itself taken or not) up to Highest. Refusal is the
// message for a number outside; none when every number of the type is taken.
struct ValueRange {
    double Lowest = -std::numeric_limits<double>::infinity();
    bool LowestTaken = true;
    double Highest = std::numeric_limits<double>::infinity();
    const char* Refusal = nullptr;

    bool Holds(double value) const {
        return (LowestTaken ? value >= Lowest : value > Lowest) && value <= Highest;
    }
};

constexpr ValueRange AtLeast(double lowest, const char* refusal) {
    return {lowest, true, std::numeric_limits<double>::infinity(), refusal};
}
constexpr ValueRange Between(double lowest, double highest, const char* refusal) {
    return {lowest, true, highest, refusal};
}
constexpr ValueRange AboveUpTo(double lowest, double highest, const char* refusal) {
    return {lowest, false, highest, refusal};
}

// An entry of an array of option values.
struct OptionArrayEntry {
    std::array<int32_t, 4> TSessionOptions::*Array;
    size_t Index;
};

template <typename T> using OptionField = T TSessionOptions::*;
using ValueField = std::variant<OptionField<int32_t>, OptionField<bool>, OptionField<int64_t>,
                                OptionField<uint64_t>, OptionField<float>, OptionField<std::string>,
                                OptionField<std::optional<std::string>>, OptionArrayEntry>;

struct ValueOption {
    const char* Name;
    ValueType Type;
    ValueField Field;
    ValueRange Range{};
    int32_t Mark = 1; // what a flag stores
};

// Every value option, and the one of a name (nullptr when the name is not one).
const std::vector<ValueOption>& ValueOptions();
const ValueOption* FindValueOption(const std::string& name);

// Converts the value text as the option's type says, checks it against the option's range and
// stores it; a malformed or out-of-range value raises FFMpegException and leaves the field.
void StoreValueOption(TSessionOptions& options, const ValueOption& option,
                      const std::string& value);

} // namespace mobivert::engine
