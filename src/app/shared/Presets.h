#pragma once
// The output presets offered to the user: their texts, what each one asks of the output, and the
// names derived from a preset's text.

#include "app/shared/TargetSize.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mobivert::app {

// How a preset codes to a target size. In either way the output is coded again, at a
// corrected video bit rate, while its written size misses the target.
enum class ETargetSizeCoding {
    None,      // it does not: a target size is refused
    TwoPasses, // a first pass gathers the encoder's statistics, the second writes the output
    // The output at the planned bit rate in one pass, for an encoder that keeps no statistics
    // between runs (SVT-AV1 through these libraries): its constant-rate mode follows the rate.
    OnePass,
};

// What one preset sets in an output record. Empty texts and -1 numbers leave the record's
// field at its default.
struct TPreset {
    const char* Text;
    const char* VideoCodec = "";
    const char* AudioCodec = "";
    const char* FrameSize = "";
    const char* FrameRate = "";
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1; // Hz
    int32_t VideoBitRate = -1;    // bit/s
    int32_t AudioBitRate = -1;    // bit/s

    // What only the modern presets set; the 21 leave these at their defaults. (A modern
    // preset's AudioSampleRate is the rate used when no choice names one, -1 the source's.)
    bool Modern = false;
    bool AudioOnly = false; // no video, whatever the extension (.m4a, .opus)
    // Used when the encoder of VideoCodec is missing from the libraries.
    const char* FallbackVideoCodec = "";
    const char* VideoTag = "";
    // name=value lines for the video encoder, for VideoCodec and for the fallback.
    const char* VideoEncoderOptions = "";
    const char* FallbackEncoderOptions = "";
    // Constant quality: the encoder's quality number by default (larger means smaller files)
    // and the largest it takes; -1 when the preset codes no video.
    int32_t DefaultQuality = -1;
    int32_t MaxQuality = -1;
    // name=value lines for the audio encoder, and those used instead for sources of deeper
    // integer samples (24 bits) when set.
    const char* AudioEncoderOptions = "";
    const char* DeepAudioEncoderOptions = "";
    // Lossy sound: the bit rate for each channel of the output, or the encoder's quality
    // number when no audio bit rate is chosen; -1 for neither (lossless sound).
    int32_t AudioBitRatePerChannel = -1;
    int32_t AudioQuality = -1;
    // The source's sound is copied when the container holds its codec and no audio option
    // asks for a change.
    bool CopyAudioWhenHeld = false;
    // The source's subtitles are copied when the container holds every one of them.
    bool CopySubtitlesWhenHeld = false;
    // How a target size is coded, with these name=value lines for the video encoder after its
    // own (for VideoCodec and for the fallback).
    ETargetSizeCoding TargetSizeCoding = ETargetSizeCoding::None;
    const char* TargetSizeEncoderOptions = "";
    const char* FallbackTargetSizeEncoderOptions = "";
    // The bits of each pixel of each picture below which the encoder, at the speed the target
    // size codes at, cannot code fine detail: the least video rate a target size leaves.
    double LeastBitsPerPixel = LEAST_BITS_PER_PIXEL;
    // The video may be coded by a hardware encoder of the same codec when the machine has one.
    bool HardwareEncoders = false;
};

// The first entry of the preset list, which is no preset.
inline constexpr const char* CLICK_TO_SELECT = "Click to select";

// Output extensions that get no video; tested as plain, case-sensitive substrings.
inline constexpr const char* AUDIO_EXTENSIONS = ".aac .ac3 .mp2 .mp3 .wav .wma .amr .ogg .flac .ra";

// The 21 presets in list order.
const std::vector<TPreset>& Presets();
// The list as the user sees it: CLICK_TO_SELECT, then the 21 preset texts.
std::vector<std::string> PresetListTexts();
// The formats of today, in list order after the 21 (numbers 22 on).
const std::vector<TPreset>& ModernPresets();
// The heading of the modern presets in the window's format list.
inline constexpr const char* MODERN_FORMATS_HEADING = "Modern formats";
// The heading of the user's own presets there.
inline constexpr const char* MY_PRESETS_HEADING = "My presets";
// The preset with the number the command line lists (1..21 the 21, then the modern ones), or
// nullptr.
const TPreset* PresetByNumber(int number);
// How many presets have a number.
int NumberedPresetCount();
// The preset (of the 21 or the modern ones) whose text equals the given one exactly, or nullptr.
const TPreset* FindPreset(const std::string& text);
// True for a modern preset's text.
bool IsModernPreset(const std::string& text);
// True when the preset's outputs get no video: an audio extension or a preset for sound only.
bool PresetIsAudioOnly(const std::string& text);

// ".3gp" for "3GPP 128*96 (*.3gp)": the text after "(*" up to the ")".
std::string PresetExtension(const std::string& text);
// "3GPP 128x96" for "3GPP 128*96 (*.3gp)": the text before " (", every "*" made an "x".
std::string PresetName(const std::string& text);
// True when the extension (dot included, case as listed) is one of AUDIO_EXTENSIONS as a whole:
// ".m" or ".mp" is not ".mp3". An empty extension is none of them.
bool IsAudioExtension(const std::string& extension);
// The options dialog can change every preset but the two whose text contains "3gp".
bool PresetAcceptsOptions(const std::string& text);

// Codec names the presets use that FFmpeg no longer has, as their successors; other names are
// returned unchanged.
std::string SuccessorCodecName(const std::string& name);

} // namespace mobivert::app
