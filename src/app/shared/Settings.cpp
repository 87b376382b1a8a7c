#include "app/shared/Settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace mobivert::app {

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

constexpr const char* OPTIONS = "Options";

int ReadIndex(const TIniFile& ini, const char* key, const std::vector<std::string>& items) {
    std::optional<int> index = ParseIntegerText(ini.ReadString(OPTIONS, key, ""));
    return index && *index >= 0 && *index < static_cast<int>(items.size()) ? *index : 0;
}

// Each group of the dialog is taken only when it passes the dialog's own check.
TStoredChoices LoadChoices(const TIniFile& ini) {
    TStoredChoices c;
    c.AudioChannelChoice = ReadIndex(ini, "intAudioChannel", AudioChannelItems());
    c.SampleRateChoice = ReadIndex(ini, "intSampleRate", SampleRateItems());
    c.AspectChoice = ReadIndex(ini, "intAspect", AspectItems());
    c.FrameRateChoice = ReadIndex(ini, "intFrameRate", FrameRateItems());
    // Each group of typed values is taken only when it is valid as a whole.
    auto valid = [](const TStoredChoices& typed) { return CheckStoredChoices(typed).empty(); };
    TStoredChoices video;
    video.VideoBitRateText = ini.ReadString(OPTIONS, "strVideoBitRate", "");
    video.VideoBitRateDefault = ini.ReadBool(OPTIONS, "booVideoBitRateDefault", true);
    if (valid(video)) {
        c.VideoBitRateText = video.VideoBitRateText;
        c.VideoBitRateDefault = video.VideoBitRateDefault;
    }
    TStoredChoices audio;
    audio.AudioBitRateText = ini.ReadString(OPTIONS, "strAudioBitRate", "");
    audio.AudioBitRateDefault = ini.ReadBool(OPTIONS, "booAudioBitRateDefault", true);
    if (valid(audio)) {
        c.AudioBitRateText = audio.AudioBitRateText;
        c.AudioBitRateDefault = audio.AudioBitRateDefault;
    }
    TStoredChoices size;
    size.WidthText = ini.ReadString(OPTIONS, "strWidth", "");
    size.HeightText = ini.ReadString(OPTIONS, "strHeight", "");
    size.ResolutionDefault = ini.ReadBool(OPTIONS, "booResolutionDefault", true);
    if (valid(size)) {
        c.WidthText = size.WidthText;
        c.HeightText = size.HeightText;
        c.ResolutionDefault = size.ResolutionDefault;
    }
    c.ModernChannelChoice = ReadIndex(ini, "intModernChannel", ModernChannelItems());
    c.ModernSampleRateChoice = ReadIndex(ini, "intModernSampleRate", ModernSampleRateItems());
    c.ModernFrameRateChoice = ReadIndex(ini, "intModernFrameRate", ModernFrameRateItems());
    c.ModernSizeChoice = ReadIndex(ini, "intModernSize", ModernSizeItems());
    c.RateControlChoice = ReadIndex(ini, "intRateControl", RateControlItems());
    // Any number any modern preset takes; a preset that takes less says so when it converts.
    TStoredChoices quality;
    quality.QualityText = ini.ReadString(OPTIONS, "strQuality", "");
    if (CheckQualityChoice(quality, MAX_QUALITY).empty())
        c.QualityText = quality.QualityText;
    c.TargetSizeText = ini.ReadString(OPTIONS, "strTargetSize", "");
    // A target size that cannot be read leaves the rate control at its default.
    if (!CheckTargetSizeChoice(c).empty()) {
        c.RateControlChoice = RATE_QUALITY;
        c.TargetSizeText.clear();
    }
    c.HardwareEncoding = ini.ReadBool(OPTIONS, "booHardwareEncoding", true);
    return c;
}

void SaveChoices(TIniFile& ini, const TStoredChoices& c) {
    ini.WriteString(OPTIONS, "intAudioChannel", std::to_string(c.AudioChannelChoice));
    ini.WriteString(OPTIONS, "intSampleRate", std::to_string(c.SampleRateChoice));
    ini.WriteString(OPTIONS, "intAspect", std::to_string(c.AspectChoice));
    ini.WriteString(OPTIONS, "intFrameRate", std::to_string(c.FrameRateChoice));
    ini.WriteString(OPTIONS, "strVideoBitRate", c.VideoBitRateText);
    ini.WriteBool(OPTIONS, "booVideoBitRateDefault", c.VideoBitRateDefault);
    ini.WriteString(OPTIONS, "strAudioBitRate", c.AudioBitRateText);
    ini.WriteBool(OPTIONS, "booAudioBitRateDefault", c.AudioBitRateDefault);
    ini.WriteString(OPTIONS, "strWidth", c.WidthText);
    ini.WriteString(OPTIONS, "strHeight", c.HeightText);
    ini.WriteBool(OPTIONS, "booResolutionDefault", c.ResolutionDefault);
    ini.WriteString(OPTIONS, "intModernChannel", std::to_string(c.ModernChannelChoice));
    ini.WriteString(OPTIONS, "intModernSampleRate", std::to_string(c.ModernSampleRateChoice));
    ini.WriteString(OPTIONS, "intModernFrameRate", std::to_string(c.ModernFrameRateChoice));
    ini.WriteString(OPTIONS, "intModernSize", std::to_string(c.ModernSizeChoice));
    ini.WriteString(OPTIONS, "intRateControl", std::to_string(c.RateControlChoice));
    ini.WriteString(OPTIONS, "strQuality", c.QualityText);
    ini.WriteString(OPTIONS, "strTargetSize", c.TargetSizeText);
    ini.WriteBool(OPTIONS, "booHardwareEncoding", c.HardwareEncoding);
}

} // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_);
    std::string section;
    std::string text;
    while (std::getline(in, text)) {
        std::string line = Trim(text);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = Lower(Trim(line.substr(1, line.size() - 2)));
            lines_.push_back({text, section, "", ""});
            continue;
        }
        size_t equals = line.find('=');
        if (line.empty() || line[0] == ';' || line[0] == '#' || equals == std::string::npos ||
            Trim(line.substr(0, equals)).empty()) {
            lines_.push_back({text, section, "", ""});
            continue;
        }
        lines_.push_back(
            {"", section, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))});
    }
}

const TIniFile::Line* TIniFile::Find(const std::string& section, const std::string& key) const {
    std::string wantedSection = Lower(section);
    std::string wantedKey = Lower(key);
    for (const Line& line : lines_)
        if (!line.Key.empty() && line.Section == wantedSection && Lower(line.Key) == wantedKey)
            return &line;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const Line* line = Find(section, key);
    return line ? line->Value : defaultValue;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
    const Line* line = Find(section, key);
    if (!line)
        return defaultValue;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(line->Value.c_str(), &end, 10);
    if (line->Value.empty() || *end != '\0' || errno != 0)
        return defaultValue;
    return value != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    if (Line* line = const_cast<Line*>(Find(section, key))) {
        line->Value = value;
        return;
    }
    std::string wanted = Lower(section);
    // After the last line of the section, or in a new section at the end.
    auto last = std::find_if(lines_.rbegin(), lines_.rend(),
                             [&wanted](const Line& line) { return line.Section == wanted; });
    bool haveHeader = std::any_of(lines_.begin(), lines_.end(), [&wanted](const Line& line) {
        return line.Section == wanted && line.Key.empty();
    });
    if (last == lines_.rend() || !haveHeader) {
        lines_.push_back({"[" + section + "]", wanted, "", ""});
        lines_.push_back({"", wanted, key, value});
        return;
    }
    lines_.insert(last.base(), {"", wanted, key, value});
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::Save(std::string& error) const {
    std::error_code ec;
    fs::path target(path_);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    // Written beside the file and renamed over it, so a failed write never leaves half a file.
    fs::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const Line& line : lines_)
            out << (line.Key.empty() ? line.Text : line.Key + "=" + line.Value) << '\n';
        out.flush();
        if (!out) {
            error = path_ + ": " + std::strerror(errno);
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        error = path_ + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

std::string DefaultOutputFolder() {
    return (fs::path(HomeFolder()) / "CorvelVideo").string();
}

std::string ConfigFilePath() {
    fs::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        base = config;
    else
        base = fs::path(HomeFolder()) / ".config";
    return (base / "Corvel" / "Mobivert" / "config.ini").string();
}

TMainSettings LoadMainSettings(const std::string& configPath) {
    TIniFile ini(configPath);
    TMainSettings settings;
    settings.OutputFolder = ini.ReadString("Main", "strOutput", "");
    // An empty folder would put outputs at the root of the file system.
    if (settings.OutputFolder.empty())
        settings.OutputFolder = DefaultOutputFolder();
    else if (settings.OutputFolder == "~" || settings.OutputFolder.rfind("~/", 0) == 0)
        settings.OutputFolder = HomeFolder() + settings.OutputFolder.substr(1);
    settings.SameFolder = ini.ReadBool("Main", "booSameFolder", false);
    settings.Preset = ini.ReadString("Main", "strPreset", "");
    std::optional<int> conversions = ParseIntegerText(ini.ReadString("Main", "intConversions", ""));
    settings.ConversionsAtOnce = conversions && *conversions >= 1 ? *conversions : 1;
    settings.Choices = LoadChoices(ini);
    return settings;
}

bool SaveMainSettings(const std::string& configPath, const TMainSettings& settings,
                      std::string& error) {
    TIniFile ini(configPath);
    ini.WriteString("Main", "strOutput", settings.OutputFolder);
    ini.WriteBool("Main", "booSameFolder", settings.SameFolder);
    ini.WriteString("Main", "strPreset", settings.Preset);
    ini.WriteString("Main", "intConversions", std::to_string(settings.ConversionsAtOnce));
    SaveChoices(ini, settings.Choices);
    return ini.Save(error);
}

} // namespace mobivert::app
