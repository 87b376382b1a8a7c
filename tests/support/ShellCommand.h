#pragma once
// Programs run through the shell from a test: quoting for a command line, and what a command
// line prints.

#include <string>

namespace mobivert::test {

// The text in single quotes for a shell command line, a single quote inside it kept as one.
std::string ShellQuoted(const std::string& text);

// What a shell command line prints on its standard output (empty when no shell could be
// started). status, when given, gets the shell's status as pclose returns it (-1 when no shell
// could be started).
std::string RunCommand(const std::string& command, int* status = nullptr);

// The text without the line ends at its end.
std::string WithoutTrailingLineEnds(std::string text);

} // namespace mobivert::test
