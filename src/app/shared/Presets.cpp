#include "app/shared/Presets.h"

#include <algorithm>
#include <sstream>

namespace mobivert::app {

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

std::vector<std::string> PresetListTexts() {
    std::vector<std::string> texts{CLICK_TO_SELECT};
    for (const TPreset& preset : Presets())
        texts.emplace_back(preset.Text);
    return texts;
}

const TPreset* FindPreset(const std::string& text) {
    for (const TPreset& preset : Presets())
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
