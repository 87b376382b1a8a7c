#pragma once
// The output options the user chose for the next batches (channels, sample rate, aspect, frame
// rate, bit rates, size), the items they are chosen from, and the checks a choice must pass
// before it is stored.

#include <optional>
#include <string>
#include <vector>

namespace mobivert::app {

// Index 0 of every item list is "Default".
const std::vector<std::string>& AudioChannelItems(); // "Default", "Mono", "Stereo"
const std::vector<std::string>& SampleRateItems();   // "Default", "8000Hz" ... "44100Hz"
const std::vector<std::string>& AspectItems();       // "Default", "4:3", "16:9", "37:20", "47:20"
const std::vector<std::string>& FrameRateItems();    // "Default", "10", "15", "25", "30"

// The modern presets' own lists; index 0 is "Same as source".
inline constexpr const char* SAME_AS_SOURCE = "Same as source";
const std::vector<std::string>& ModernChannelItems();    // ..., "Mono", "Stereo", "5.1", "7.1"
const std::vector<std::string>& ModernSampleRateItems(); // ..., "44100Hz", "48000Hz", "96000Hz"
const std::vector<std::string>& ModernFrameRateItems();  // ..., "24", "25", "30", "50", "60"
const std::vector<std::string>& ModernSizeItems();       // ..., "3840x2160" ... "640x360"
// How the modern presets control the video's rate.
const std::vector<std::string>& RateControlItems(); // "Quality", "Bit rate", "Target size"
inline constexpr int RATE_QUALITY = 0;
inline constexpr int RATE_BIT_RATE = 1;
inline constexpr int RATE_TARGET_SIZE = 2;

// The messages shown when a check fails.
inline constexpr const char* MSG_SIZE_NOT_INTEGER =
    "The width and height of the video must be integers";
inline constexpr const char* MSG_VIDEO_BITRATE_NOT_INTEGER =
    "The video bit rate must be an integer value";
inline constexpr const char* MSG_AUDIO_BITRATE_NOT_INTEGER =
    "The audio bit rate must be an integer value";

struct TStoredChoices {
    int AudioChannelChoice = 0;   // 0 Default, 1 Mono, 2 Stereo
    int SampleRateChoice = 0;     // index into SampleRateItems()
    int AspectChoice = 0;         // index into AspectItems()
    int FrameRateChoice = 0;      // index into FrameRateItems()
    std::string VideoBitRateText; // kbit/s, used when VideoBitRateDefault is false
    std::string AudioBitRateText; // kbit/s, used when AudioBitRateDefault is false
    bool VideoBitRateDefault = true;
    bool AudioBitRateDefault = true;
    // Used when ResolutionDefault is false; one of the two may be blank, the source's aspect
    // then gives the other.
    std::string WidthText;
    std::string HeightText;
    bool ResolutionDefault = true;

    // The modern presets' choices, kept apart from those of the 21 (the aspect and the bit-rate
    // texts are shared). Indexes into the Modern...Items lists; 0 keeps the source's value.
    int ModernChannelChoice = 0;
    int ModernSampleRateChoice = 0;
    int ModernFrameRateChoice = 0;
    // A box the picture is fitted into, keeping its shape (never enlarged).
    int ModernSizeChoice = 0;
    // 0 Quality, 1 Bit rate (VideoBitRateText unless Default), 2 Target size.
    int RateControlChoice = 0;
    std::string QualityText;    // the encoder's quality number; empty: the preset's own
    std::string TargetSizeText; // the output's size ("25MB", "1.5GB"), for a target size
    // MP4 H.264 and H.265 may code on a hardware encoder when the machine has one.
    bool HardwareEncoding = true;
};

// A decimal integer with an optional sign, blanks around it allowed, that fits 32 bits.
std::optional<int> ParseIntegerText(const std::string& text);

// Whether the size choice names a width and a height, or one of them with the other left blank
// (the source's aspect then gives the other).
bool SizeChoiceIsComplete(const TStoredChoices& choices);

// The checks of the options dialog in their order (size, video bit rate, audio bit rate): the
// message of the first that fails, or an empty text.
// Both sides of a chosen size must be integers here, as a size typed as WxH must be.
std::string CheckChoices(const TStoredChoices& choices);
// The same checks as the options dialog makes them: one side of the size may be left blank.
// What is stored (settings, batch journals) is read back with these checks.
std::string CheckStoredChoices(const TStoredChoices& choices);

// The choices that are not at Default, as the user named them ("Mono, 22050Hz, 16:9, 25 fps,
// 320x240, video 800 kbit/s, audio 64 kbit/s"); the video ones only when video applies. Empty
// when every choice is at Default.
std::string DescribeChoices(const TStoredChoices& choices, bool video);

inline constexpr const char* MSG_QUALITY_NOT_INTEGER = "The quality must be an integer value";
// The largest quality number any modern preset takes.
inline constexpr int MAX_QUALITY = 63;

// The quality choice for a modern preset with the given largest quality: empty when it is the
// preset's own or a number from 0 to the largest, else the message saying what it takes.
std::string CheckQualityChoice(const TStoredChoices& choices, int maxQuality);

inline constexpr const char* MSG_TARGET_SIZE_NOT_SIZE =
    "The target size must be a size such as 25MB, 700MB or 1.5GB";
// The target-size choice: empty when the rate control is not a target size or the text is a
// size, else the message.
std::string CheckTargetSizeChoice(const TStoredChoices& choices);

// True when every index lies within its list and the quality is one some modern preset takes.
bool ChoicesWithinTheirLists(const TStoredChoices& choices);

// The channel count of a modern channel choice (1, 2, 6, 8); -1 for "Same as source".
int ModernChannelsOfChoice(int choice);
// The rate of a modern sample-rate choice; -1 for "Same as source".
int ModernSampleRateOfChoice(int choice);
// The box of a modern size choice; false for "Same as source".
bool ModernSizeOfChoice(int choice, int& width, int& height);

// The modern presets' choices that are not "Same as source" or the preset's own, named as in
// the dialog ("5.1, 48000Hz, 25 fps, fitted into 1280x720, quality 28"); the video ones only
// when video applies.
std::string DescribeModernChoices(const TStoredChoices& choices, bool video);

// The number at the start of a sample-rate item (8000 for "8000Hz"); -1 for "Default" or an
// index outside the list.
int SampleRateOfChoice(int choice);

} // namespace mobivert::app
