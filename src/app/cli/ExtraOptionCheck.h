#pragma once
// Checking the engine options typed with -x and -i before any file is touched: a name the
// engine does not know, or a value it cannot read, is a mistake in the command line, so it is
// refused as a usage error that names the option, rather than failing (or being ignored) once
// per file.

#include <string>
#include <vector>

namespace mobivert::cli {

// The first refusal as "-x NAME=VALUE: <why>", or an empty text when every line is taken. The
// codec libraries must be loaded.
std::string CheckExtraOptions(const std::vector<std::string>& inputLines,
                              const std::vector<std::string>& outputLines);

} // namespace mobivert::cli
