#pragma once
// Why a file could not be added or converted, in plain words a user reads at a glance ("not a
// video or audio file", "the file ends before its header does"), made from the texts of the
// file checks and of the media libraries, which stay available as the details.

#include <string>
#include <vector>

namespace mobivert::app {

// The plain words for a library's or a file check's text, or an empty text when the text is
// none of the cases known here. The source, when given, is looked at where the text alone does
// not tell (an MP4 reader finds no index both in a cut MP4 file and in a text file named .mp4).
std::string PlainReason(const std::string& libraryText, const std::string& sourcePath = "");

// The text without the paths of the files it is about: a leading "PATH: " is dropped and other
// mentions of a path become the file's name, so that the reason comes first. A leading absolute
// path that is not among the given ones is dropped too.
std::string WithoutPaths(const std::string& text, const std::vector<std::string>& paths);

// The reason to show first: the plain words when known, else the library's text without paths.
// The first path is the source's.
std::string ReasonFirst(const std::string& libraryText, const std::vector<std::string>& paths);

} // namespace mobivert::app
