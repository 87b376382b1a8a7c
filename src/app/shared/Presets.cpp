#include "app/shared/Presets.h"

#include <algorithm>
#include <sstream>

namespace mobivert::app {

namespace {

// Encoder speeds: H.264 720p converts faster than it plays on two cores; the others are set
// for the same kind of machine, trading size for time where their encoders are slow.
constexpr const char* X264_SPEED = "preset=veryfast";
// x265 writes its own report to the terminal unless told to keep to errors.
constexpr const char* X265_SPEED = "preset=veryfast\nx265-params=log-level=error";
constexpr const char* VP9_SPEED = "deadline=realtime\ncpu-used=8\nrow-mt=1";
constexpr const char* SVTAV1_SPEED = "preset=10";
// Two-pass rate control that corrects itself within a second or two, so that short clips too
// land at their size; x265's parameters keep its report to errors.
constexpr const char* X264_TARGET = "x264-params=ratetol=0.1";
constexpr const char* X265_TARGET = "x265-params=log-level=error:ratetol=0.1";
// libvpx gathers first-pass statistics only at its "good" deadline; its fastest speed there.
// libopus codes at exactly its bit rate (it varies it by as much as a sixth with the sound
// otherwise), so that the video's share of the size is known.
constexpr const char* VP9_TARGET = "deadline=good\ncpu-used=5\nvbr=off";
constexpr const char* AOM_SPEED = "cpu-used=8\nrow-mt=1\nusage=realtime";
// SVT-AV1's variable rate, in one pass, codes a short clip at a quarter to a half of its rate;
// its constant rate lands within a few percent once the first key picture's share is paid.
// Opus at exactly its rate, as for VP9.
constexpr const char* SVTAV1_TARGET = "svtav1-params=rc=2\nvbr=off";
// libaom in one pass at its realtime speed and a bit rate (within a few percent on clips of a
// second or more at a bit a pixel); its two passes at the good speed undershoot short clips by
// half and take twenty times as long.
constexpr const char* AOM_TARGET = "vbr=off";

} // namespace

const std::vector<TPreset>& Presets() {
    static const std::vector<TPreset> presets = {
        {"3GPP 128*96 (*.3gp)", "h263", "libamr_nb", "128x96", "", 1, 8000, 120000, 10200},
        {"3GPP 176*144 (*.3gp)", "h263", "libamr_nb", "176x144", "", 1, 8000, 120000, 10200},
        {"3GPP2 128*96 (*.3g2)", "mpeg4", "libfaac", "128x96", "", 1, 8000, 120000, 48000},
        {"3GPP2 160*120 (*.3g2)", "mpeg4", "libfaac", "160x120", "", 1, 8000, 120000, 48000},
        {"3GPP2 176*144 (*.3g2)", "mpeg4", "libfaac", "176x144", "", 1, 8000, 120000, 48000},
        {"3GPP2 320*240 (*.3g2)", "mpeg4", "libfaac", "320x240", "", 1, 8000, 120000, 48000},
        {"iRiver PMP-100 320*240 (*.avi)", "mpeg4", "libmp3lame", "320x240", "", 2, 48000, 1200000,
         128000},
        {"AVI Video (*.avi)", "msmpeg4v2", "pcm_s16le", "", "", 2, 44100, 1200000, 128000},
        {"DivX Video (*.avi)", "mpeg4", "libmp3lame", "", "", -1, -1, -1, -1},
        {"XviD Video (*.avi)", "libxvid", "libmp3lame", "", "", -1, -1, -1, -1},
        {"MOV Video (*.mov)", "mpeg4", "libfaac", "", "", -1, -1, -1, -1},
        // The frame rate is 22 as the preset has always had it; the encoder's nearest
        // supported rate is used.
        {"MPEG-1 Video (*.mpg)", "mpeg1video", "mp2", "", "22", 2, 44100, 1600000, 224000},
        {"MPEG-4 Video (*.mp4)", "libx264", "libfaac", "", "29.97", 2, 44100, 1500000, 64000},
        {"RM Real Media Video (*.rm)", "rv10", "", "", "", -1, -1, -1, -1},
        {"Windows Media Video (*.wmv)", "wmv2", "wmav2", "", "", -1, -1, -1, -1},
        {"Windows Media Audio (*.wma)", "", "wmav2", "", "", -1, -1, -1, -1},
        {"MP3 MPEG Layer-3 (*.mp3)", "", "libmp3lame", "", "", -1, -1, -1, -1},
        // The video codec never takes effect: ".ra" outputs get no video.
        {"RA Real Media Audio (*.ra)", "rv10", "", "", "", -1, -1, -1, -1},
        {"AAC Advanced Audio Coding (*.aac)", "", "libfaac", "", "", 2, -1, -1, -1},
        {"AMR Audio (*.amr)", "", "libamr_nb", "", "", 1, 8000, -1, 10200},
        {"Wave Audio (*.wav)", "", "pcm_s16le", "", "", 2, 44100, -1, -1},
    };
    return presets;
}

// Video at constant quality with encoder speeds that keep up with the source on a small
// machine; sound at a bit rate for each channel, or lossless at the source's depth (16 bits, or
// 24 for deeper integer sources; ALAC would take 24 bits for every source otherwise). The sample
// rate is the source's, but Opus codes at 48 kHz. Vorbis codes at a quality (about 64 kbit/s a
// channel): its bit-rate mode refuses high rates with many channels.
const std::vector<TPreset>& ModernPresets() {
    static const std::vector<TPreset> presets = {
        {.Text = "MP4 H.264 (*.mp4)",
         .VideoCodec = "libx264",
         .AudioCodec = "aac",
         .Modern = true,
         .VideoEncoderOptions = X264_SPEED,
         .DefaultQuality = 22,
         .MaxQuality = 51,
         .AudioBitRatePerChannel = 64000,
         .TargetSizeCoding = ETargetSizeCoding::TwoPasses,
         .TargetSizeEncoderOptions = X264_TARGET,
         .HardwareEncoders = true},
        // The hvc1 tag lets Apple's players open the file.
        {.Text = "MP4 H.265 (*.mp4)",
         .VideoCodec = "libx265",
         .AudioCodec = "aac",
         .Modern = true,
         .VideoTag = "hvc1",
         .VideoEncoderOptions = X265_SPEED,
         .DefaultQuality = 26,
         .MaxQuality = 51,
         .AudioBitRatePerChannel = 64000,
         .TargetSizeCoding = ETargetSizeCoding::TwoPasses,
         .TargetSizeEncoderOptions = X265_TARGET,
         .HardwareEncoders = true},
        {.Text = "WebM VP9 (*.webm)",
         .VideoCodec = "libvpx-vp9",
         .AudioCodec = "libopus",
         .AudioSampleRate = 48000,
         .Modern = true,
         .VideoEncoderOptions = VP9_SPEED,
         .DefaultQuality = 32,
         .MaxQuality = 63,
         .AudioBitRatePerChannel = 48000,
         .TargetSizeCoding = ETargetSizeCoding::TwoPasses,
         .TargetSizeEncoderOptions = VP9_TARGET,
         // At its "good" speed 5 libvpx codes fine detail at no less than about a twentieth
         // of a bit a pixel, whatever rate it is asked for.
         .LeastBitsPerPixel = 0.06},
        {.Text = "WebM AV1 (*.webm)",
         .VideoCodec = "libsvtav1",
         .AudioCodec = "libopus",
         .AudioSampleRate = 48000,
         .Modern = true,
         .FallbackVideoCodec = "libaom-av1",
         .VideoEncoderOptions = SVTAV1_SPEED,
         .FallbackEncoderOptions = AOM_SPEED,
         .DefaultQuality = 32,
         .MaxQuality = 63,
         .AudioBitRatePerChannel = 48000,
         .TargetSizeCoding = ETargetSizeCoding::OnePass,
         .TargetSizeEncoderOptions = SVTAV1_TARGET,
         .FallbackTargetSizeEncoderOptions = AOM_TARGET,
         .LeastBitsPerPixel = 0.06},
        {.Text = "MKV H.264 (*.mkv)",
         .VideoCodec = "libx264",
         .AudioCodec = "aac",
         .Modern = true,
         .VideoEncoderOptions = X264_SPEED,
         .DefaultQuality = 22,
         .MaxQuality = 51,
         .AudioBitRatePerChannel = 64000,
         .CopyAudioWhenHeld = true,
         .CopySubtitlesWhenHeld = true,
         .TargetSizeCoding = ETargetSizeCoding::TwoPasses,
         .TargetSizeEncoderOptions = X264_TARGET},
        {.Text = "M4A AAC (*.m4a)",
         .AudioCodec = "aac",
         .Modern = true,
         .AudioOnly = true,
         .AudioBitRatePerChannel = 64000},
        {.Text = "Opus Audio (*.opus)",
         .AudioCodec = "libopus",
         .AudioSampleRate = 48000,
         .Modern = true,
         .AudioOnly = true,
         .AudioBitRatePerChannel = 48000},
        {.Text = "FLAC Lossless (*.flac)",
         .AudioCodec = "flac",
         .Modern = true,
         .AudioOnly = true,
         .DeepAudioEncoderOptions = "sample_fmt=s32"},
        {.Text = "ALAC Lossless (*.m4a)",
         .AudioCodec = "alac",
         .Modern = true,
         .AudioOnly = true,
         .AudioEncoderOptions = "sample_fmt=s16p",
         .DeepAudioEncoderOptions = "sample_fmt=s32p"},
        {.Text = "OGG Vorbis (*.ogg)",
         .AudioCodec = "libvorbis",
         .Modern = true,
         .AudioOnly = true,
         .AudioQuality = 4},
    };
    return presets;
}

const TPreset* PresetByNumber(int number) {
    const int classic = static_cast<int>(Presets().size());
    if (number >= 1 && number <= classic)
        return &Presets()[number - 1];
    if (number > classic && number <= NumberedPresetCount())
        return &ModernPresets()[number - classic - 1];
    return nullptr;
}

int NumberedPresetCount() {
    return static_cast<int>(Presets().size() + ModernPresets().size());
}

bool IsModernPreset(const std::string& text) {
    const TPreset* preset = FindPreset(text);
    return preset && preset->Modern;
}

bool PresetIsAudioOnly(const std::string& text) {
    const TPreset* preset = FindPreset(text);
    return IsAudioExtension(PresetExtension(text)) || (preset && preset->AudioOnly);
}

std::vector<std::string> PresetListTexts() {
    std::vector<std::string> texts{CLICK_TO_SELECT};
    for (const TPreset& preset : Presets())
        texts.emplace_back(preset.Text);
    return texts;
}

const TPreset* FindPreset(const std::string& text) {
    for (const auto* list : {&Presets(), &ModernPresets()})
        for (const TPreset& preset : *list)
            if (text == preset.Text)
                return &preset;
    return nullptr;
}

std::string PresetExtension(const std::string& text) {
    size_t start = text.find("(*");
    if (start == std::string::npos)
        return "";
    start += 2;
    size_t end = text.find(')', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string PresetName(const std::string& text) {
    std::string name = text.substr(0, text.find(" ("));
    std::replace(name.begin(), name.end(), '*', 'x');
    return name;
}

bool IsAudioExtension(const std::string& extension) {
    std::istringstream list(AUDIO_EXTENSIONS);
    for (std::string item; list >> item;)
        if (item == extension)
            return true;
    return false;
}

bool PresetAcceptsOptions(const std::string& text) {
    return text.find("3gp") == std::string::npos;
}

std::string SuccessorCodecName(const std::string& name) {
    if (name == "libamr_nb")
        return "libopencore_amrnb";
    if (name == "libfaac")
        return "aac";
    return name;
}

} // namespace mobivert::app
