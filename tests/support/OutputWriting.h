#pragma once
// Finishing an output created by the engine the way a conversion does: open its encoders, write
// the header, a second of generated pictures and silence per stream, and the trailer. Used to
// check what the stream set-up puts into a real file.

#include "engine/session/FFmpeg.h"

#include <string>

namespace mobivert::test {

// Empty on success, otherwise what failed.
std::string WriteGeneratedOutput(engine::TCustomFFmpeg& session, int fileIndex = 0);

} // namespace mobivert::test
