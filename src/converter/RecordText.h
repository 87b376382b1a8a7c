#pragma once
// The option records as text, one "Name=value" line per field, so that a task can be described
// to a worker process and rebuilt there exactly as the component would build it.

#include "converter/OptionRecords.h"

#include <string>

namespace mobivert::converter {

// Backslash, line feed and carriage return written as \\, \n and \r, so that any value fits on
// one line; Unescape reverses it.
std::string Escape(const std::string& text);
std::string Unescape(const std::string& text);

// Every field, in record order, each line prefixed with prefix ("in." or "out.").
std::string RecordText(const TInputOptions& record, const std::string& prefix);
std::string RecordText(const TOutputOptions& record, const std::string& prefix);

// Sets the field a "Name=value" line (prefix already removed) names; false when no field has
// that name or the value does not read as the field's type.
bool ReadRecordLine(TInputOptions& record, const std::string& line);
bool ReadRecordLine(TOutputOptions& record, const std::string& line);

} // namespace mobivert::converter
