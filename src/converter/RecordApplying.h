#pragma once
// Turning the option records into engine options on a task's session, the same way whether the
// task is being set up, re-opened when its turn comes, or rebuilt inside a worker process.

#include "converter/OptionRecords.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::converter {

// ExtOptions, then the forced format, the start time, the program and OverrideOptions, as
// AddInputFile applies them. Refusals are raised as FFMpegException.
void ApplyInputRecord(engine::TCustomFFmpeg& session, const TInputOptions& record);

// ExtOptions, the table fields in record order, the target preset and OverrideOptions, then the
// hook time ranges when neither frame-hook event is asked for. Refusals are raised as
// FFMpegException.
void ApplyOutputRecord(engine::TCustomFFmpeg& session, const TOutputOptions& record);

} // namespace mobivert::converter
