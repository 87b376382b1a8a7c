#pragma once
// The settings kept between runs in "config.ini" (section "Main": the output folder, the
// same-folder choice, the last preset and the conversions at once; section "Options": the
// output options dialog's choices), and the small INI file reader and writer that holds them.

#include "app/shared/StoredChoices.h"

#include <string>
#include <vector>

namespace mobivert::app {

// An INI file: "[Section]" headers and "key=value" lines. Section and key names compare without
// regard to case; values are trimmed of surrounding blanks. Lines that are neither (comments,
// blank lines) are kept as they are when the file is written back.
class TIniFile {
public:
    // Reads the file; a missing or unreadable file gives an empty one.
    explicit TIniFile(std::string path);

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // An integer value other than 0 is true, 0 false; anything else gives the default.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    // Writes the file (its folder is created when missing); false with the reason in error.
    bool Save(std::string& error) const;

private:
    struct Line {
        std::string Text;    // the line as read, for lines that are not key=value
        std::string Section; // lower-case name of the section the line belongs to
        std::string Key;     // empty for a header or a kept line
        std::string Value;
    };
    const Line* Find(const std::string& section, const std::string& key) const;

    std::string path_;
    std::vector<Line> lines_;
};

struct TMainSettings {
    std::string OutputFolder;  // "strOutput"
    bool SameFolder = false;   // "booSameFolder"
    std::string Preset;        // "strPreset": the preset chosen last, empty for none
    int ConversionsAtOnce = 1; // "intConversions": 1 or more
    TStoredChoices Choices;    // section "Options"
};

// ~/CorvelVideo: the output folder when none is stored.
std::string DefaultOutputFolder();
// config.ini in the per-user configuration folder ($XDG_CONFIG_HOME, else ~/.config) under
// "Corvel/Mobivert", the folder Qt's AppConfigLocation names for organisation "Corvel" and
// application "Mobivert".
std::string ConfigFilePath();

// Values that cannot be used (an index outside its list, a bit rate or size that is not an
// integer, fewer than one conversion at once) give their defaults.
TMainSettings LoadMainSettings(const std::string& configPath);
bool SaveMainSettings(const std::string& configPath, const TMainSettings& settings,
                      std::string& error);

} // namespace mobivert::app
