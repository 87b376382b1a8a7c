#pragma once
// The commands that run a batch: converting the files named with the preset and options typed,
// and resuming the batches whose program was killed.

#include "app/cli/CliOptions.h"

namespace mobivert::cli {

// 0 when every file was converted cleanly, 3 when all were but some with warnings, 1 otherwise,
// 2 when an engine option typed is refused.
int Convert(const TCliOptions& options);

// Finishes the files of every batch whose program is gone, each with its own settings; the work
// files the dead run left are removed.
int Resume(const TCliOptions& options);

} // namespace mobivert::cli
