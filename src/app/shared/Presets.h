#pragma once
// The output presets offered to the user: their texts, what each one asks of the output, and the
// names derived from a preset's text.

#include <cstdint>
#include <string>
#include <vector>

namespace mobivert::app {

// What one preset sets in an output record. Empty texts and -1 numbers leave the record's
// field at its default.
struct TPreset {
    const char* Text;
    const char* VideoCodec;
    const char* AudioCodec;
    const char* FrameSize;
    const char* FrameRate;
    int32_t AudioChannels;
    int32_t AudioSampleRate; // Hz
    int32_t VideoBitRate;    // bit/s
    int32_t AudioBitRate;    // bit/s
};

// The first entry of the preset list, which is no preset.
inline constexpr const char* CLICK_TO_SELECT = "Click to select";

// Output extensions that get no video; tested as plain, case-sensitive substrings.
inline constexpr const char* AUDIO_EXTENSIONS = ".aac .ac3 .mp2 .mp3 .wav .wma .amr .ogg .flac .ra";

// The 21 presets in list order.
const std::vector<TPreset>& Presets();
// The list as the user sees it: CLICK_TO_SELECT, then the 21 preset texts.
std::vector<std::string> PresetListTexts();
// The preset whose text equals the given one exactly, or nullptr.
const TPreset* FindPreset(const std::string& text);

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
