#pragma once
// The commands that read and print: --version (the libraries' versions) and --info (the
// container and streams of each file).

#include "app/cli/CliOptions.h"

namespace mobivert::cli {

// The name and version of each library, one line each; 1 when they cannot be read.
int PrintLibraryVersions();

// The container and stream lines of every file; 1 when any cannot be read.
int Info(const TCliOptions& options);

} // namespace mobivert::cli
