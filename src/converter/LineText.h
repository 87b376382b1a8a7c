#pragma once
// Text kept to one line, and whole writes: what the journal, the stored presets and the worker
// protocol all write values and lines with.

#include <string>

namespace mobivert::converter {

// Backslash, line feed, carriage return and tab written as \\, \n, \r and \t, so that any value
// fits on one line and between tabs.
std::string Escape(const std::string& text);

// Reverses Escape into out. False when the text holds what Escape never writes (a backslash
// before another character, or at the end): out then has such a backslash dropped before the
// character and kept at the end, for readers that take hand-edited text as it comes.
bool Unescape(const std::string& text, std::string& out);
std::string Unescape(const std::string& text);

// Writes the whole text to a file, pipe or socket, going on after interruptions and short
// writes; a socket whose reader has gone gives false, not a SIGPIPE.
bool WriteAll(int fd, const std::string& text);

} // namespace mobivert::converter
