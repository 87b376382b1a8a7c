#pragma once
// The FFmpeg libraries as the converter's owner meets them outside a conversion: where they are
// looked for, which versions are bound, and binding them for checks made before a batch.

#include <string>
#include <vector>

namespace mobivert::converter {

// The folder the libraries are looked for in: the program's own when they sit beside it,
// otherwise empty (the system's search path).
std::string ProgramLibDirectory();

struct TLibraryVersion {
    std::string Name;    // "libavcodec", ...
    std::string Version; // "major.minor.micro"
};

// The bound libraries' versions, codec library first and filter library last; they are loaded
// from the program's folder for this and unloaded again. False with the loader's text in error.
bool ReadLibraryVersions(std::vector<TLibraryVersion>& versions, std::string& error);

// Binds the libraries from the program's folder and keeps them bound; false when they cannot be
// loaded (a batch then says so itself).
bool LoadLibrariesForChecks();

// The first of the option lines ("name=value") a fresh session refuses, tried in order as a
// conversion applies them: the refused line and why, or an empty reason when every line is
// taken. The libraries must be bound.
struct TOptionRefusal {
    std::string Line;
    std::string Reason;
};
TOptionRefusal FirstRefusedOption(const std::vector<std::string>& lines);

} // namespace mobivert::converter
