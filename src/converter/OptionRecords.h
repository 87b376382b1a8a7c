#pragma once
// The two records through which the window describes a task's input and output.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/hooks/HookTypes.h"

namespace mobivert::converter {

struct TInputOptions {
    std::string FileName;
    std::string FileFormat;
    int32_t StartTime = -1; // milliseconds
    int32_t ProgramNumber = -1;
    std::string ExtOptions;
    // Extra options like ExtOptions, applied after every other field of the record so that they
    // win over the record's own values (a command line's typed options).
    std::string OverrideOptions;
};

struct TOutputOptions {
    std::string FileName;
    std::string FileFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // seconds
    float MuxPreload = -1.0f; // seconds
    std::string AudioCodec;
    bool DisableAudio = false;
    int32_t AudioVolume = -1;
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;
    int32_t AudioBitRate = -1; // bit/s
    int32_t AudioBitRateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSync = 0;
    std::string AudioTag;
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspect;
    int32_t CropTop = -1;
    int32_t CropBottom = -1;
    int32_t CropLeft = -1;
    int32_t CropRight = -1;
    int32_t PadTop = -1;
    int32_t PadBottom = -1;
    int32_t PadLeft = -1;
    int32_t PadRight = -1;
    uint32_t PadColor = 0; // 0xRRGGBB
    int32_t GopSize = -1;
    int32_t VideoBitRate = -1; // bit/s
    int32_t VideoMaxRate = -1;
    int32_t VideoMinRate = -1;
    int32_t VideoBitRateTolerance = -1;
    int32_t VideoBufSize = -1;
    int32_t VideoSync = -1;
    std::string VideoTag;
    std::string VideoFilters;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamps = false;
    int32_t Duration = -1;   // milliseconds
    double Timestamp = -1.0; // days since 1899-12-30, local time; 0 = now
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;              // at most 511 characters are used
    std::string Author;             // at most 511
    std::string Copyright;          // at most 511
    std::string Comment;            // at most 511
    std::string Album;              // at most 511
    std::string Genre;              // at most 31
    int32_t Target = 0;             // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
    int32_t TargetNorm = 0;         // 0 "auto", 1 "pal", 2 "ntsc"
    int32_t TargetFallbackNorm = 1; // 1 "pal", else "ntsc"
    bool CustomHook = false;
    bool BeforeHook = false;
    std::string HookRanges;
    // Set when FrameSize, AudioSampleRate or AudioChannels was derived (from the source or a
    // preset) rather than asked for: an encoder that does not take a derived value gets the
    // nearest one it takes, while an asked-for value it does not take refuses the output.
    bool FrameSizeDerived = false;
    bool AudioSampleRateDerived = false;
    bool AudioChannelsDerived = false;
    bool AudioBitRateDerived = false; // a derived AudioBitRate below the encoder's least is raised
    // The video is coded twice: a first pass that only gathers the encoder's statistics (into
    // a log of the run's own), then the output, whose bit rate then comes out as asked.
    bool TwoPass = false;
    // The output's size asked for, in bytes (0: none): the output pass (the second of two, or
    // the only one) is coded again, at a corrected video bit rate, while the written size
    // misses it.
    int64_t TargetSize = 0;
    std::string ExtOptions;
    // Extra options like ExtOptions, applied after every other field of the record and after
    // the target, so that they win over the record's always-assigned values and the preset's.
    std::string OverrideOptions;
};

// The date-time (days since 1899-12-30, local time) as Unix seconds; 0 is the current time.
int64_t TimestampToUnixSeconds(double days);

// "1000-2000, 5000-6000" (milliseconds) as ranges in microseconds; pairs whose start lies after
// their end, or whose end is negative, are dropped; a side that is not a number counts as -1.
std::vector<engine::HookTimeRange> ParseHookRanges(const std::string& text);

const char* TargetName(int32_t target);
const char* TargetNormName(int32_t norm);
const char* TargetFallbackNormName(int32_t norm);

} // namespace mobivert::converter
