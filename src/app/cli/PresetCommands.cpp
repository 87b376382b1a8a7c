#include "app/cli/PresetCommands.h"

#include "app/cli/TerminalText.h"
#include "app/shared/Presets.h"
#include "app/shared/UserPresets.h"

#include <string>
#include <vector>

namespace mobivert::cli {

namespace {

std::vector<app::TUserPreset> UserPresets(const TCliOptions& options) {
    std::vector<std::string> messages;
    std::vector<app::TUserPreset> presets =
        app::LoadUserPresets(options.UserPresetFolder, messages);
    for (const std::string& message : messages)
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(message));
    return presets;
}

} // namespace

// The numbered presets, then the user's own by name with the preset each one is made from.
int ListPresets(const TCliOptions& options) {
    for (int number = 1; number <= app::NumberedPresetCount(); ++number)
        WriteLine(stdout, (number < 10 ? " " : "") + std::to_string(number) + "  " +
                              app::PresetByNumber(number)->Text);
    for (const app::TUserPreset& preset : UserPresets(options))
        WriteLine(stdout, "    " + PrintableLine(preset.Name) + "  (" + preset.Format + ")");
    return 0;
}

int SaveUserPreset(const TCliOptions& options) {
    std::string error;
    if (!app::SaveUserPreset(options.UserPresetFolder,
                             {options.UserPresetName, options.PresetText, options.Choices},
                             error)) {
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(error));
        return 1;
    }
    WriteLine(stdout, "Saved preset " + PrintableLine(options.UserPresetName));
    return 0;
}

int ImportUserPreset(const TCliOptions& options) {
    app::TUserPreset preset;
    std::string error;
    if (!app::ImportUserPreset(options.UserPresetFolder, options.UserPresetFile, preset, error)) {
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(error));
        return 1;
    }
    WriteLine(stdout, "Imported preset " + PrintableLine(preset.Name));
    return 0;
}

int ExportUserPreset(const TCliOptions& options) {
    const std::vector<app::TUserPreset> presets = UserPresets(options);
    const app::TUserPreset* preset = app::FindUserPreset(presets, options.UserPresetName);
    std::string error = preset ? "" : "No preset of your own is named " + options.UserPresetName;
    if (!preset || !app::ExportUserPreset(*preset, options.UserPresetFile, error)) {
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(error));
        return 1;
    }
    return 0;
}

} // namespace mobivert::cli
