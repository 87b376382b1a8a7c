#pragma once
// Runs mobivert-cli through the shell and collects what it prints.

#include "support/ShellCommand.h"

#include <string>

namespace mobivert::test {

// Runs `prefix mobivert-cli args` (prefix may be empty, e.g. "timeout -s KILL 60"), with
// standard error joined to standard output when joinErrors; returns the exit status, or 128 +
// the signal that ended it.
int RunCliThroughShell(const std::string& prefix, const std::string& args, bool joinErrors,
                       std::string& output);

} // namespace mobivert::test
