#pragma once
// Text for the terminal: every line mobivert-cli prints goes through here, so that nothing in
// a file name, a reason or a library's text can act on the terminal (move the cursor, clear the
// screen, set the title, ...). The terminal sees plain characters only.

#include <cstdio>
#include <string>
#include <string_view>

namespace mobivert::cli {

// The text with every byte a terminal acts on written as an escape: C0 controls and DEL
// ("\n", "\r", "\t", else "\x1b" and kin), C1 controls whether raw bytes 0x80-0x9F ("\x9b") or
// UTF-8 encoded U+0080..U+009F ("\u009b"), and any byte that is not part of valid UTF-8
// ("\xff"). Other characters, UTF-8 letters included, stay as they are; the result is valid
// UTF-8, and escaping it again changes nothing.
std::string Printable(std::string_view text);

// A message as one line: its line breaks become spaces (trailing ones go), then Printable.
std::string PrintableLine(std::string_view message);

// Writes the text as one line (Printable, then a newline) and flushes it when asked.
void WriteLine(FILE* out, std::string_view text, bool flush = false);

// The number of bytes of text that fit in at most width bytes without cutting a UTF-8
// character in two.
size_t FittingBytes(std::string_view text, size_t width);

} // namespace mobivert::cli
