#pragma once
// Loading and unloading the six FFmpeg libraries as one set.

#include <string>

namespace mobivert::binding {

// Loads and binds every library; stops at the first failure and then unloads them all again.
// A second call after a success loads nothing. The directory (the program's "lib" folder) is
// tried before the system search path; versioned selects "libavcodec.so.59" over "libavcodec.so".
bool LoadAVLibs(const std::string& directory, bool versioned);
void UnloadAVLibs();
std::string AVLibsLastError();
bool AVLibsLoaded();

// The library's log level as last read after a load or a level change.
int CachedLogLevel();
void RefreshCachedLogLevel();

// The folder "lib" beside the running program.
std::string ProgramLibDirectory();

} // namespace mobivert::binding
