#pragma once
// The command line of mobivert-cli: what it asks for, parsed and checked.

#include "app/shared/StoredChoices.h"
#include "converter/ConverterTypes.h"

#include <string>
#include <vector>

namespace mobivert::cli {

enum class TCommand {
    Convert,
    ListPresets,
    Info,
    Version,
    Help,
    Resume,
    SavePreset,
    ImportPreset,
    ExportPreset
};

struct TCliOptions {
    TCommand Command = TCommand::Convert;
    std::string PresetText; // resolved to the exact preset text
    std::string OutputFolder;
    bool OutputFolderGiven = false;
    bool SameFolder = false;
    app::TStoredChoices Choices;
    std::vector<std::string> OutputExtLines;
    std::vector<std::string> InputExtLines;
    int Jobs = 1;
    bool JobsGiven = false;
    converter::TLogLevel LogLevel = converter::llError;
    std::vector<std::string> Files;
    // --save-preset NAME, --import-preset FILE, --export-preset NAME FILE.
    std::string UserPresetName;
    std::string UserPresetFile;
    // Where the user's presets are kept (the "presets" folder beside config.ini).
    std::string UserPresetFolder;
};

// Parses argv; false with the message in error when the command line is not usable.
bool ParseCommandLine(int argc, char** argv, TCliOptions& options, std::string& error);

std::string UsageText();

} // namespace mobivert::cli
