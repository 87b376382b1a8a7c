#pragma once
// The option records as text, one "Name=value" line per field, so that a task can be described
// to a worker process and rebuilt there exactly as the component would build it.

#include "converter/LineText.h"
#include "converter/OptionRecords.h"

#include <string>

namespace mobivert::converter {

// Every field, in record order, each line prefixed with prefix ("in." or "out.").
std::string RecordText(const TInputOptions& record, const std::string& prefix);
std::string RecordText(const TOutputOptions& record, const std::string& prefix);

// Sets the field a "Name=value" line (prefix already removed) names; false when no field has
// that name or the value does not read as the field's type.
bool ReadRecordLine(TInputOptions& record, const std::string& line);
bool ReadRecordLine(TOutputOptions& record, const std::string& line);

} // namespace mobivert::converter
