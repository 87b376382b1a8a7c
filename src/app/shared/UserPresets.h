#pragma once
// Presets of the user's own: a preset of the list with the output choices that go with it, kept
// under a name as one small text file in the "presets" folder beside config.ini.
//
// The file ("NAME.preset", UTF-8 text, one key=value line each, "\n" and "\\" escaped):
//   # Corvel Mobivert preset 1
//   name=Phone clips
//   format=MP4 H.264 (*.mp4)
//   channels=0 ... quality=28   (the options dialog's choices, one key each, see ChoiceKeys)
// Unknown keys, a missing key, a format that is no preset or a choice the dialog would not
// accept make the file damaged.

#include "app/shared/StoredChoices.h"

#include <string>
#include <vector>

namespace mobivert::app {

struct TUserPreset {
    std::string Name;
    std::string Format; // the text of one of the presets of the list
    TStoredChoices Choices;
};

// The folder of the user's presets: "presets" beside the given config.ini.
std::string UserPresetFolder(const std::string& configPath);

std::string FormatUserPreset(const TUserPreset& preset);
// False with the reason when the text is not a usable preset file.
bool ParseUserPreset(const std::string& text, TUserPreset& preset, std::string& reason);

// Why a name cannot be a preset's (empty, a path, a dot file, too long, a preset of the list or
// its number), or an empty text.
std::string CheckUserPresetName(const std::string& name);

// The presets in the folder by name. A damaged file is set aside (renamed to end in
// ".damaged") and named in messages; it is never used.
std::vector<TUserPreset> LoadUserPresets(const std::string& folder,
                                         std::vector<std::string>& messages);
// Writes the preset as NAME.preset (replacing one of that name, never half-written); false
// with the reason in error.
bool SaveUserPreset(const std::string& folder, const TUserPreset& preset, std::string& error);
// Reads a preset file from anywhere and saves it into the folder under its own name.
bool ImportUserPreset(const std::string& folder, const std::string& path, TUserPreset& preset,
                      std::string& error);
// Writes the preset's file to path.
bool ExportUserPreset(const TUserPreset& preset, const std::string& path, std::string& error);

const TUserPreset* FindUserPreset(const std::vector<TUserPreset>& presets, const std::string& name);

} // namespace mobivert::app
