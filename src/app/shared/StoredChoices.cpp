#include "app/shared/StoredChoices.h"

#include "app/shared/TargetSize.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <iterator>

namespace mobivert::app {

const std::vector<std::string>& AudioChannelItems() {
    static const std::vector<std::string> items{"Default", "Mono", "Stereo"};
    return items;
}

const std::vector<std::string>& SampleRateItems() {
    static const std::vector<std::string> items{"Default", "8000Hz", "11025Hz", "22050Hz",
                                                "44100Hz"};
    return items;
}

const std::vector<std::string>& AspectItems() {
    static const std::vector<std::string> items{"Default", "4:3", "16:9", "37:20", "47:20"};
    return items;
}

const std::vector<std::string>& FrameRateItems() {
    static const std::vector<std::string> items{"Default", "10", "15", "25", "30"};
    return items;
}

const std::vector<std::string>& ModernChannelItems() {
    static const std::vector<std::string> items{SAME_AS_SOURCE, "Mono", "Stereo", "5.1", "7.1"};
    return items;
}

const std::vector<std::string>& ModernSampleRateItems() {
    static const std::vector<std::string> items{SAME_AS_SOURCE, "44100Hz", "48000Hz", "96000Hz"};
    return items;
}

const std::vector<std::string>& ModernFrameRateItems() {
    static const std::vector<std::string> items{SAME_AS_SOURCE, "24", "25", "30", "50", "60"};
    return items;
}

const std::vector<std::string>& ModernSizeItems() {
    static const std::vector<std::string> items{
        SAME_AS_SOURCE, "3840x2160", "2560x1440", "1920x1080", "1280x720", "854x480", "640x360"};
    return items;
}

const std::vector<std::string>& RateControlItems() {
    static const std::vector<std::string> items{"Quality", "Bit rate", "Target size"};
    return items;
}

std::optional<int> ParseIntegerText(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    size_t last = text.find_last_not_of(" \t");
    std::string digits = text.substr(first, last - first + 1);
    // from_chars takes a leading minus but no plus; one sign at most, then digits only.
    if (!digits.empty() && digits[0] == '+') {
        digits.erase(0, 1);
        if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits[0])))
            return std::nullopt;
    }
    int32_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

namespace {

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

} // namespace

bool SizeChoiceIsComplete(const TStoredChoices& choices) {
    const bool width = ParseIntegerText(choices.WidthText).has_value();
    const bool height = ParseIntegerText(choices.HeightText).has_value();
    return (width && (height || Blank(choices.HeightText))) || (height && Blank(choices.WidthText));
}

namespace {

std::string CheckChoicesWith(const TStoredChoices& choices, bool oneSideMayBeBlank) {
    const bool sizeOk = oneSideMayBeBlank ? SizeChoiceIsComplete(choices)
                                          : ParseIntegerText(choices.WidthText) &&
                                                ParseIntegerText(choices.HeightText);
    if (!choices.ResolutionDefault && !sizeOk)
        return MSG_SIZE_NOT_INTEGER;
    if (!choices.VideoBitRateDefault && !ParseIntegerText(choices.VideoBitRateText))
        return MSG_VIDEO_BITRATE_NOT_INTEGER;
    if (!choices.AudioBitRateDefault && !ParseIntegerText(choices.AudioBitRateText))
        return MSG_AUDIO_BITRATE_NOT_INTEGER;
    return "";
}

} // namespace

std::string CheckChoices(const TStoredChoices& choices) {
    return CheckChoicesWith(choices, false);
}

std::string CheckStoredChoices(const TStoredChoices& choices) {
    return CheckChoicesWith(choices, true);
}

std::string DescribeChoices(const TStoredChoices& choices, bool video) {
    std::vector<std::string> parts;
    auto item = [&parts](const std::vector<std::string>& items, int choice, const char* unit) {
        if (choice > 0 && choice < static_cast<int>(items.size()))
            parts.push_back(items[choice] + unit);
    };
    item(AudioChannelItems(), choices.AudioChannelChoice, "");
    item(SampleRateItems(), choices.SampleRateChoice, "");
    if (video) {
        item(AspectItems(), choices.AspectChoice, "");
        item(FrameRateItems(), choices.FrameRateChoice, " fps");
        if (!choices.ResolutionDefault) {
            if (Blank(choices.HeightText))
                parts.push_back("width " + choices.WidthText);
            else if (Blank(choices.WidthText))
                parts.push_back("height " + choices.HeightText);
            else
                parts.push_back(choices.WidthText + "x" + choices.HeightText);
        }
        if (!choices.VideoBitRateDefault)
            parts.push_back("video " + choices.VideoBitRateText + " kbit/s");
    }
    if (!choices.AudioBitRateDefault)
        parts.push_back("audio " + choices.AudioBitRateText + " kbit/s");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::string CheckQualityChoice(const TStoredChoices& choices, int maxQuality) {
    if (choices.RateControlChoice != 0 || Blank(choices.QualityText))
        return "";
    std::optional<int> quality = ParseIntegerText(choices.QualityText);
    if (!quality)
        return MSG_QUALITY_NOT_INTEGER;
    if (*quality < 0 || *quality > maxQuality)
        return "The quality must be from 0 to " + std::to_string(maxQuality);
    return "";
}

std::string CheckTargetSizeChoice(const TStoredChoices& choices) {
    if (choices.RateControlChoice != RATE_TARGET_SIZE || ParseTargetSize(choices.TargetSizeText))
        return "";
    return MSG_TARGET_SIZE_NOT_SIZE;
}

std::string DescribeModernChoices(const TStoredChoices& choices, bool video) {
    std::vector<std::string> parts;
    auto item = [&parts](const std::vector<std::string>& items, int choice, const char* before,
                         const char* unit) {
        if (choice > 0 && choice < static_cast<int>(items.size()))
            parts.push_back(before + items[choice] + unit);
    };
    item(ModernChannelItems(), choices.ModernChannelChoice, "", "");
    item(ModernSampleRateItems(), choices.ModernSampleRateChoice, "", "");
    if (video) {
        item(AspectItems(), choices.AspectChoice, "", "");
        item(ModernFrameRateItems(), choices.ModernFrameRateChoice, "", " fps");
        item(ModernSizeItems(), choices.ModernSizeChoice, "fitted into ", "");
        if (choices.RateControlChoice == RATE_QUALITY && !Blank(choices.QualityText))
            parts.push_back("quality " + choices.QualityText);
        else if (choices.RateControlChoice == RATE_TARGET_SIZE)
            parts.push_back("target size " + choices.TargetSizeText);
        else if (choices.RateControlChoice == RATE_BIT_RATE)
            parts.push_back(choices.VideoBitRateDefault
                                ? std::string("video at a bit rate")
                                : "video " + choices.VideoBitRateText + " kbit/s");
    }
    if (!choices.AudioBitRateDefault)
        parts.push_back("audio " + choices.AudioBitRateText + " kbit/s");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

bool ChoicesWithinTheirLists(const TStoredChoices& c) {
    auto within = [](int choice, const std::vector<std::string>& items) {
        return choice >= 0 && choice < static_cast<int>(items.size());
    };
    return within(c.AudioChannelChoice, AudioChannelItems()) &&
           within(c.SampleRateChoice, SampleRateItems()) && within(c.AspectChoice, AspectItems()) &&
           within(c.FrameRateChoice, FrameRateItems()) &&
           within(c.ModernChannelChoice, ModernChannelItems()) &&
           within(c.ModernSampleRateChoice, ModernSampleRateItems()) &&
           within(c.ModernFrameRateChoice, ModernFrameRateItems()) &&
           within(c.ModernSizeChoice, ModernSizeItems()) &&
           within(c.RateControlChoice, RateControlItems()) &&
           CheckQualityChoice(c, MAX_QUALITY).empty() && CheckTargetSizeChoice(c).empty();
}

int ModernChannelsOfChoice(int choice) {
    static const int channels[] = {-1, 1, 2, 6, 8};
    return choice > 0 && choice < static_cast<int>(std::size(channels)) ? channels[choice] : -1;
}

int ModernSampleRateOfChoice(int choice) {
    const auto& items = ModernSampleRateItems();
    if (choice <= 0 || choice >= static_cast<int>(items.size()))
        return -1;
    return std::stoi(items[choice]);
}

bool ModernSizeOfChoice(int choice, int& width, int& height) {
    const auto& items = ModernSizeItems();
    if (choice <= 0 || choice >= static_cast<int>(items.size()))
        return false;
    const std::string& item = items[choice];
    width = std::stoi(item);
    height = std::stoi(item.substr(item.find('x') + 1));
    return true;
}

int SampleRateOfChoice(int choice) {
    const auto& items = SampleRateItems();
    if (choice <= 0 || choice >= static_cast<int>(items.size()))
        return -1;
    return std::stoi(items[choice]);
}

} // namespace mobivert::app
