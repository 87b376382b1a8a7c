#pragma once
// The file name extensions of the sources the program offers to read: the ones its open dialog
// has always listed and those of the media types the desktop entry names (WebM, Ogg video,
// Opus, ...). The open dialog's filters are built from these lists.

#include <string>
#include <vector>

namespace mobivert::app {

// Without the dot, lower case, each once, in the order the filters list them.
const std::vector<std::string>& VideoSourceExtensions();
const std::vector<std::string>& AudioSourceExtensions();
// The video extensions, then the audio ones.
std::vector<std::string> SourceExtensions();

} // namespace mobivert::app
