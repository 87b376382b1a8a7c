#pragma once
// The fixed texts that tell a user why a media file could not be opened, and the step that tells
// "no demuxer knows this data" apart from "a demuxer knew it but could not read its header".

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

// The text for an FFmpeg error code met while opening fileName: a missing file, an I/O failure,
// data no demuxer recognises, a damaged header, a missing image number pattern, lack of memory;
// any other code gives "<name>: Error while opening file".
std::string OpenErrorText(int errorCode, const std::string& fileName);

// True for the error codes of a full disk or a file grown beyond what the system allows.
bool IsOutOfSpace(int errorCode);

// Refines the code of a failed opening by looking at the file itself: a directory gives
// AVERROR(EISDIR); where FFmpeg reports invalid data, a file whose first read fails gives that
// read's error, and (when no format was forced) data that no demuxer recognises by its content
// gives AVERROR_DEMUXER_NOT_FOUND. Every other code is returned as it is.
int ClassifyOpenError(int errorCode, const std::string& fileName,
                      const AVInputFormat* forcedFormat);

} // namespace mobivert::engine
