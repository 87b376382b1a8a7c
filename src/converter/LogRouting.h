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

// Installed as the libraries' log callback by LoadAVLib.
void InstallLibraryLogCallback();

// Builds the lines of one library message, given the thread's pending text, and leaves the
// unfinished rest as the new pending text. The line buffer is 2048 bytes; longer text is cut.
std::vector<std::string> SplitLibraryMessage(std::string& pending, void* context,
                                             const char* format, va_list args);

} // namespace mobivert::converter
