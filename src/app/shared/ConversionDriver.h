#pragma once
// The conversion driver: turns a list of source files, the chosen preset, the stored output
// choices and the output folder into configured converter tasks, one per source, ready for
// StartConvert. The window and the command line share it.

#include "app/shared/OutputNaming.h"
#include "app/shared/StoredChoices.h"
#include "converter/AVConverter.h"

#include <atomic>
#include <string>
#include <vector>

namespace mobivert::app {

inline constexpr const char* MSG_LIB_NOT_LOADED = "Error: Lib cannot be loaded.";
inline constexpr const char* MSG_CHOOSE_FILE = "Please choose a file.";
inline constexpr const char* MSG_CHOOSE_FORMAT = "Please choose an output format.";
inline constexpr const char* MSG_ERROR_FOUND = "Error found";
inline constexpr const char* MSG_NO_SOUND = "has no sound to convert";

// The output record for a task whose source the probe is attached to: the preset's cells (codec
// names FFmpeg no longer has replaced by their successors), no video for audio outputs and
// audio sources, then the stored choices, with the source's own channels, sample rate, audio
// bit rate and picture size where neither the preset nor a choice sets them. The choices must
// have passed CheckStoredChoices (a size with one side blank keeps the source's shape). An
// unknown preset text gives the overrides alone.
converter::TOutputOptions BuildOutputOptions(const std::string& presetText,
                                             const converter::TAVProbe& source,
                                             const TStoredChoices& choices);

// The stored choices that apply to the preset: none for a preset whose options the dialog
// cannot change, since the user could neither see nor undo them there.
TStoredChoices ChoicesForPreset(const std::string& presetText, const TStoredChoices& choices);

// Why a source cannot be read as a file (missing, a folder, not a regular file, unreadable,
// empty), or an empty text when it can. Special files are refused before anything opens them,
// so a pipe or a device never blocks or feeds the batch.
std::string CheckSourceFile(const std::string& path);

struct TBatchSettings {
    std::string PresetText;
    bool SameFolder = false;
    std::string OutputFolder; // used when SameFolder is false; created when missing
    TStoredChoices Choices;
    // name=value lines for every input and every output, applied after everything else the
    // record sets (preset, choices, source values), so that they win.
    std::string InputExtOptions;
    std::string OutputExtOptions;
    // Create each output name as an empty file when it is chosen (see TOutputNamer).
    bool ReserveOutputNames = false;
    // When set (by another thread), LoadSources stops: the opening under way gives up and the
    // sources not loaded keep Task -1 with an empty Error.
    const std::atomic<bool>* Cancel = nullptr;
};

// One source file of the batch and what became of it.
struct TBatchSource {
    std::string Path;
    int Task = -1;          // its task's index in the converter, -1 while it has none
    std::string OutputPath; // the output's name once chosen
    std::string Error;      // why it has no task
};

class TConversionDriver {
public:
    explicit TConversionDriver(converter::TAVConverter& converter) : converter_(converter) {}

    // Loads the libraries through the converter's probe; false when they cannot be loaded.
    bool LoadLibraries(const std::string& directory);

    // Rebuilds the tasks: the converter's tasks are cleared, then every source that passes
    // CheckSourceFile, that the converter's probe can open and that the converter accepts
    // becomes a task, in list order.
    // The others keep Task -1 and get the reason in Error.
    void LoadSources(std::vector<TBatchSource>& sources, const TBatchSettings& settings);

    // Names and configures the output of every task. A task whose output is refused is removed
    // (the later ones move down) and its source gets the reason in Error. Returns the number of
    // tasks left. The names are new for each call: names given earlier in the same call are
    // avoided, as are existing files.
    int ConfigureOutputs(std::vector<TBatchSource>& sources, const TBatchSettings& settings);

private:
    void DropTask(std::vector<TBatchSource>& sources, TBatchSource& source,
                  const std::string& reason);

    converter::TAVConverter& converter_;
};

} // namespace mobivert::app
