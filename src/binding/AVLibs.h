#pragma once
// Loading and unloading the six FFmpeg libraries: five as one set, libavfilter when first needed.

#include <string>

namespace mobivert::binding {

// Loads and binds every library but libavfilter; stops at the first failure and then unloads
// them all again. A second call after a success loads nothing. The directory (the program's
// "lib" folder) is tried before the system search path; versioned selects "libavcodec.so.59"
// over "libavcodec.so".
bool LoadAVLibs(const std::string& directory, bool versioned);
// Loads and binds libavfilter from where LoadAVLibs loaded the others, once; safe to call from
// several threads. Only filter chains and deinterlacing use it, and its own dependencies add
// about 11 MB of resident memory (Debian's build), so a conversion that needs no filter graph
// never loads it. False (with the load error) when it cannot be loaded or LoadAVLibs has not
// succeeded.
bool LoadAVFilter(std::string& error);
void UnloadAVLibs();
std::string AVLibsLastError();
bool AVLibsLoaded();

// The library's log level as last read after a load or a level change.
int CachedLogLevel();
void RefreshCachedLogLevel();

// The folder "lib" beside the running program.
std::string ProgramLibDirectory();

} // namespace mobivert::binding
