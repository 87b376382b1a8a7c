#pragma once
// What the loaded codec libraries can do for an output: whether they have an encoder, and
// whether a container holds a codec as it is (so that a stream can be copied into it).

#include <string>

struct AVFormatContext;

namespace mobivert::converter {

// True when the libraries are loaded and have an encoder of that name.
bool EncoderAvailable(const std::string& encoder);

// True when the container chosen by the file extension (".mkv") holds streams of the codec
// named as the probe names it ("aac", "mp3"), so that they can be copied into it.
bool ContainerHoldsCodec(const std::string& extension, const std::string& codecName);

// True when the source has subtitles and the container chosen by the extension holds the codec
// of every one of them as it is.
bool ContainerHoldsEverySubtitle(const AVFormatContext* source, const std::string& extension);

} // namespace mobivert::converter
