#pragma once
// The commands on the user's own presets: listing them after the numbered presets, saving the
// options typed as a preset, importing and exporting a preset file.

#include "app/cli/CliOptions.h"

namespace mobivert::cli {

int ListPresets(const TCliOptions& options);
int SaveUserPreset(const TCliOptions& options);
int ImportUserPreset(const TCliOptions& options);
int ExportUserPreset(const TCliOptions& options);

} // namespace mobivert::cli
