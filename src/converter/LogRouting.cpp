#include "converter/LogRouting.h"

#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "converter/AVConverter.h"
#include "engine/session/LibraryReason.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace mobivert::converter {

namespace {

constexpr size_t LineBufferSize = 2048;

struct ProcessWideLog {
    std::recursive_mutex Mutex;
    std::vector<TCustomAVConverter*> Components;
    TLogList Pending;
};

ProcessWideLog& Shared() {
    static ProcessWideLog shared;
    return shared;
}

void LibraryLogCallback(void* context, int level, const char* format, va_list args) {
    // A failure being explained on this thread takes the library's error lines whatever the
    // log level.
    engine::LibraryReason::Note(level, format, args);
    if (!LibraryLineShown(level, binding::CachedLogLevel()))
        return;
    ProcessWideLog& shared = Shared();
    std::lock_guard lock(shared.Mutex);
    pid_t thread = gettid();
    std::vector<std::string> lines =
        SplitLibraryMessage(shared.Pending.PendingText(thread), context, format, args);
    for (const std::string& line : lines)
        for (TCustomAVConverter* component : shared.Components)
            component->EngineLog(component->FindTaskByThread(thread), LibraryLineLevel(level),
                                 line);
}

} // namespace

bool LibraryLineShown(int level, int libraryLevel) {
    if (level <= libraryLevel)
        return true;
    // Errors reach the log whenever the component shows errors (library level 0 or more),
    // although the library's own numbering puts them above every level the component sets.
    return libraryLevel >= 0 && level >= 0 && level <= AV_LOG_ERROR;
}

int LibraryLineLevel(int level) {
    return level >= 0 && level <= AV_LOG_ERROR ? 0 : level;
}

std::string& TLogList::PendingText(pid_t threadId) {
    if (first_.ThreadID == 0 || first_.ThreadID == threadId) {
        first_.ThreadID = threadId;
        return first_.Text;
    }
    for (TLogItem& item : more_)
        if (item.ThreadID == threadId)
            return item.Text;
    more_.push_back({threadId, {}});
    return more_.back().Text;
}

void TLogList::Clear() {
    first_ = {};
    more_.clear();
}

std::vector<std::string> SplitLibraryMessage(std::string& pending, void* context,
                                             const char* format, va_list args) {
    char buffer[LineBufferSize] = {};
    int used = 0;
    const AVClass* avClass = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    if (avClass && pending.empty()) {
        const char* name = avClass->item_name ? avClass->item_name(context) : avClass->class_name;
        used = snprintf(buffer, sizeof buffer, "[%s @ %08llX]", name ? name : "",
                        static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(avClass)));
    } else if (!pending.empty()) {
        used = snprintf(buffer, sizeof buffer, "%s", pending.c_str());
    }
    used = std::clamp(used, 0, static_cast<int>(sizeof buffer) - 1);
    int wanted = vsnprintf(buffer + used, sizeof buffer - used, format, args);
    // A message that does not fit is cut and ends its line there, so that an endless line can
    // never hold back the lines after it.
    if (used + std::max(wanted, 0) >= static_cast<int>(sizeof buffer) - 1)
        buffer[sizeof buffer - 2] = '\n';

    std::vector<std::string> lines;
    std::string text = buffer;
    size_t start = 0;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    pending = text.substr(start);
    return lines;
}

void RegisterComponent(TCustomAVConverter* component) {
    std::lock_guard lock(Shared().Mutex);
    Shared().Components.push_back(component);
}

void UnregisterComponent(TCustomAVConverter* component) {
    std::lock_guard lock(Shared().Mutex);
    auto& list = Shared().Components;
    list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

void ClearPendingLogLines() {
    std::lock_guard lock(Shared().Mutex);
    Shared().Pending.Clear();
}

void InstallLibraryLogCallback() {
    av::av_log_set_callback(LibraryLogCallback);
}

} // namespace mobivert::converter
