// The table of the options that only store a converted value, and the routine that stores them.

#include "engine/options/ValueOptions.h"

#include "engine/options/ValueConversion.h"
#include "engine/session/AssertionFailure.h"

#include <type_traits>
#include <unordered_map>

namespace mobivert::engine {

const std::vector<ValueOption>& ValueOptions() {
    using O = TSessionOptions;
    using enum ValueType;
    static const std::vector<ValueOption> table = {
        // Flags: the value is ignored.
        {"dump", Flag, &O::DoPktDump},
        {"hex", Flag, &O::DoHexDump},
        {"re", Flag, &O::RateEmu},
        {"loop_input", Flag, &O::LoopInput},
        {"copyts", Flag, &O::CopyTs},
        {"shortest", Flag, &O::Shortest},
        {"xerror", Flag, &O::ExitOnError},
        {"intra", Flag, &O::IntraOnly},
        {"vn", Flag, &O::VideoDisable},
        {"sameq", Flag, &O::SameQuality},
        {"deinterlace", Flag, &O::DoDeinterlace},
        {"noautorotate", Flag, &O::AutoRotate, {}, 0},
        {"psnr", Flag, &O::DoPsnr},
        {"qphist", Flag, &O::QpHist},
        {"an", Flag, &O::AudioDisable},
        {"sn", Flag, &O::SubtitleDisable},
        {"isync", Flag, &O::InputSync},

        // Whole numbers.
        {"vframes", Int, OptionArrayEntry{&O::MaxFrames, 0}},
        {"aframes", Int, OptionArrayEntry{&O::MaxFrames, 1}},
        {"dframes", Int, OptionArrayEntry{&O::MaxFrames, 2}},
        {"loop_output", Int, &O::LoopOutput},
        {"vsync", Int, &O::VideoSyncMethod},
        {"async", Int, &O::AudioSyncMethod},
        {"vglobal", Int, &O::VideoGlobalHeader},
        {"programid", Int, &O::ProgramId},
        {"vdt", Int, &O::VideoDiscard},
        {"me_threshold", Int, &O::MeThreshold},
        {"top", Int, &O::TopFieldFirst},
        {"dc", Int, &O::IntraDcPrecision},
        {"vol", Int, &O::AudioVolume},
        {"vc", Int, &O::VideoChannel},
        {"fs", Int64, &O::LimitFileSize},
        // Codec threads: a count, or 0 for as many as the cores allow.
        {"threads", Int, &O::ThreadCount, AtLeast(0, "threads must be 0 (automatic) or more")},
        {"pass", Int, &O::DoPass, Between(1, 2, "pass number can be only 1 or 2")},

        // Decimal numbers.
        {"adrift_threshold", Single, &O::AudioDriftThreshold},
        {"dts_delta_threshold", Single, &O::DtsDeltaThreshold},
        {"aq", Single, &O::AudioQScale},
        {"muxdelay", Single, &O::MuxMaxDelay},
        {"muxpreload", Single, &O::MuxPreload},
        {"qscale", Double, &O::VideoQScale,
         AboveUpTo(0.0, 255.0, "qscale must be > 0.0 and <= 255")},

        // Texts.
        {"title", Text, &O::MetaTitle},
        {"author", Text, &O::MetaAuthor},
        {"copyright", Text, &O::MetaCopyright},
        {"comment", Text, &O::MetaComment},
        {"genre", Text, &O::MetaGenre},
        {"album", Text, &O::MetaAlbum},
        {"passlogfile", Text, &O::PassLogFileName},
        {"alang", Text, &O::AudioLanguage},
        {"slang", Text, &O::SubtitleLanguage},
        {"rc_override", Text, &O::VideoRcOverride},
        {"tvstd", Text, &O::VideoStandard},
        {"vstats_file", Text, &O::VStatsFileName},

        // Durations.
        {"ss", Duration, &O::StartTime},
        {"itsoffset", Duration, &O::InputTsOffset},
    };
    return table;
}

const ValueOption* FindValueOption(const std::string& name) {
    static const std::unordered_map<std::string, const ValueOption*> byName = [] {
        std::unordered_map<std::string, const ValueOption*> names;
        for (const ValueOption& option : ValueOptions())
            names.emplace(option.Name, &option);
        return names;
    }();
    auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
}

namespace {

template <typename Value>
void Store(TSessionOptions& options, const ValueOption& option, Value value) {
    constexpr bool kNumber = std::is_arithmetic_v<Value>;
    if constexpr (kNumber) {
        if (option.Range.Refusal && !option.Range.Holds(static_cast<double>(value)))
            throw FFMpegException(option.Range.Refusal);
    }
    std::visit(
        [&](auto field) {
            if constexpr (std::is_same_v<decltype(field), OptionArrayEntry>) {
                if constexpr (kNumber) {
                    (options.*field.Array)[field.Index] = static_cast<int32_t>(value);
                    return;
                }
            } else {
                auto& slot = options.*field;
                using Slot = std::remove_reference_t<decltype(slot)>;
                if constexpr (std::is_arithmetic_v<Slot> == kNumber) {
                    slot = static_cast<Slot>(value);
                    return;
                }
            }
            FailAssertion(std::string("the option table stores \"") + option.Name +
                              "\" in a field of another type",
                          __FILE__, __LINE__);
        },
        option.Field);
}

} // namespace

void StoreValueOption(TSessionOptions& options, const ValueOption& option,
                      const std::string& value) {
    switch (option.Type) {
    case ValueType::Flag:
        return Store(options, option, option.Mark);
    case ValueType::Int:
        return Store(options, option, StrToInt(value));
    case ValueType::Int64:
        return Store(options, option, StrToInt64(value));
    case ValueType::Single:
        return Store(options, option, StrToSingle(value));
    case ValueType::Double:
        return Store(options, option, StrToFloat(value));
    case ValueType::Text:
        return Store(options, option, value);
    case ValueType::Duration:
        return Store(options, option, ParseTimeValue(option.Name, value, true));
    }
}

} // namespace mobivert::engine
