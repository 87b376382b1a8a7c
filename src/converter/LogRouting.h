#pragma once
// Routing of the codec libraries' own log output to the component and task whose thread
// produced it.

#include <string>
#include <sys/types.h>
#include <vector>

namespace mobivert::converter {

class TCustomAVConverter;

// The unfinished last line of library output of every thread that produced some.
class TLogList {
public:
    std::string& PendingText(pid_t threadId);
    void Clear();

private:
    struct TLogItem {
        pid_t ThreadID = 0;
        std::string Text;
    };
    TLogItem first_;
    std::vector<TLogItem> more_;
};

// The process-wide list of live components.
void RegisterComponent(TCustomAVConverter* component);
void UnregisterComponent(TCustomAVConverter* component);
void ClearPendingLogLines();

// Whether a library message of the given level is routed, the libraries' own level being
// libraryLevel (the component's level - 1): what that level lets through, and the library's
// errors (panic, fatal and error) whenever the component shows errors at all.
bool LibraryLineShown(int level, int libraryLevel);
// The engine level a routed library message is reported at: the library's errors as the
// engine's errors (0), so that they arrive as llError; other levels unchanged.
int LibraryLineLevel(int level);

// Installed as the libraries' log callback by LoadAVLib.
void InstallLibraryLogCallback();

// Builds the lines of one library message, given the thread's pending text, and leaves the
// unfinished rest as the new pending text. The line buffer is 2048 bytes; longer text is cut.
std::vector<std::string> SplitLibraryMessage(std::string& pending, void* context,
                                             const char* format, va_list args);

} // namespace mobivert::converter
