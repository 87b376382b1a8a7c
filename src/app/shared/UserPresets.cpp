#include "app/shared/UserPresets.h"

#include "app/shared/ChoiceFields.h"
#include "app/shared/FieldLines.h"
#include "app/shared/Presets.h"
#include "converter/LineText.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

namespace mobivert::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "# Corvel Mobivert preset 1";
constexpr const char* kExtension = ".preset";

// The file's fields: the name, the format it is made from, and the choices.
template <class Preset, class Visitor> void VisitPresetFields(Preset& preset, Visitor&& visit) {
    visit("name", preset.Name, CHOICES_FIRST);
    visit("format", preset.Format, CHOICES_FIRST);
    VisitChoiceFields(preset.Choices, visit);
}

std::string ReadWhole(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ok = static_cast<bool>(in) || in.eof();
    return text.str();
}

// Writes beside the target first and renames, so that no reader sees half a file.
bool WriteWhole(const fs::path& path, const std::string& text, std::string& error) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const fs::path work = path.parent_path() / ("." + path.filename().string() + ".tmp");
    {
        std::ofstream out(work, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            error = "cannot write " + work.string();
            fs::remove(work, ec);
            return false;
        }
    }
    fs::rename(work, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        fs::remove(work, ec);
        return false;
    }
    return true;
}

} // namespace

std::string UserPresetFolder(const std::string& configPath) {
    return (fs::path(configPath).parent_path() / "presets").string();
}

std::string FormatUserPreset(const TUserPreset& preset) {
    return std::string(kHeader) + "\n" +
           FieldLinesText([&preset](auto& line) { VisitPresetFields(preset, line); });
}

bool ParseUserPreset(const std::string& text, TUserPreset& preset, std::string& reason) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader) {
        reason = "it is not a Corvel Mobivert preset file";
        return false;
    }
    TFieldLines lines;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos ||
            !lines.Add(line.substr(0, equals), converter::Unescape(line.substr(equals + 1)))) {
            reason = "a line cannot be read";
            return false;
        }
    }
    auto readNumber = [](const std::string& text, int& number) {
        std::optional<int> value = ParseIntegerText(text);
        if (value)
            number = *value;
        return value.has_value();
    };
    TUserPreset read;
    // Preset files came with the modern presets; those written before target sizes and
    // hardware encoding lack their keys.
    if (!lines.ReadAll([&read](auto& visit) { VisitPresetFields(read, visit); },
                       FieldReader(readNumber), CHOICES_MODERN)) {
        reason = "a setting is missing or cannot be read";
        return false;
    }
    if (std::string problem = CheckUserPresetName(read.Name); !problem.empty()) {
        reason = problem;
        return false;
    }
    if (!FindPreset(read.Format) || !ChoicesWithinTheirLists(read.Choices) ||
        !CheckStoredChoices(read.Choices).empty()) {
        reason = "a setting has a value this version does not accept";
        return false;
    }
    preset = read;
    return true;
}

std::string CheckUserPresetName(const std::string& name) {
    if (name.find_first_not_of(" \t") == std::string::npos)
        return "a preset needs a name";
    if (name.find_first_of("/\n\r") != std::string::npos || name[0] == '.' || name.size() > 200)
        return "a preset's name cannot hold \"/\", start with \".\" or pass 200 bytes";
    std::optional<int> number = ParseIntegerText(name);
    if (FindPreset(name) || name == CLICK_TO_SELECT || name == MODERN_FORMATS_HEADING ||
        name == MY_PRESETS_HEADING || (number && PresetByNumber(*number)))
        return "\"" + name + "\" is the name of a preset of the list";
    return "";
}

std::vector<TUserPreset> LoadUserPresets(const std::string& folder,
                                         std::vector<std::string>& messages) {
    std::vector<TUserPreset> presets;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == kExtension && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        bool ok = false;
        const std::string text = ReadWhole(file.string(), ok);
        TUserPreset preset;
        std::string reason = ok ? "" : "it cannot be read";
        if (ok && ParseUserPreset(text, preset, reason) && !FindUserPreset(presets, preset.Name)) {
            presets.push_back(preset);
            continue;
        }
        if (reason.empty())
            reason = "another file holds a preset of the same name";
        const fs::path aside = file.string() + ".damaged";
        fs::rename(file, aside, ec);
        messages.push_back("The preset file " + file.string() + " was set aside as " +
                           aside.filename().string() + ": " + reason);
    }
    std::sort(presets.begin(), presets.end(),
              [](const TUserPreset& a, const TUserPreset& b) { return a.Name < b.Name; });
    return presets;
}

bool SaveUserPreset(const std::string& folder, const TUserPreset& preset, std::string& error) {
    if (std::string problem = CheckUserPresetName(preset.Name); !problem.empty()) {
        error = problem;
        return false;
    }
    if (!FindPreset(preset.Format)) {
        error = "\"" + preset.Format + "\" is not a preset of the list";
        return false;
    }
    return WriteWhole(fs::path(folder) / (preset.Name + kExtension), FormatUserPreset(preset),
                      error);
}

bool ImportUserPreset(const std::string& folder, const std::string& path, TUserPreset& preset,
                      std::string& error) {
    bool ok = false;
    const std::string text = ReadWhole(path, ok);
    std::string reason;
    if (!ok || !ParseUserPreset(text, preset, reason)) {
        error = path + ": " + (ok ? reason : "it cannot be read");
        return false;
    }
    return SaveUserPreset(folder, preset, error);
}

bool ExportUserPreset(const TUserPreset& preset, const std::string& path, std::string& error) {
    return WriteWhole(fs::absolute(path), FormatUserPreset(preset), error);
}

const TUserPreset* FindUserPreset(const std::vector<TUserPreset>& presets,
                                  const std::string& name) {
    for (const TUserPreset& preset : presets)
        if (preset.Name == name)
            return &preset;
    return nullptr;
}

} // namespace mobivert::app
