#include "engine/session/LibraryReason.h"

#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

namespace mobivert::engine {

namespace {

thread_local LibraryReason* current = nullptr;

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool EndsSentence(const std::string& text) {
    char last = text.back();
    return last == '.' || last == ':' || last == '!' || last == '?';
}

} // namespace

LibraryReason::LibraryReason() : outer_(current) {
    current = this;
}

LibraryReason::~LibraryReason() {
    current = outer_;
}

std::string LibraryReason::Explain(const std::string& message) const {
    return text_.empty() ? message : message + ": " + text_;
}

void LibraryReason::Add(const std::string& text) {
    // A message may hold several lines (H.263 lists its sizes on a second one).
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = Trimmed(text.substr(start, end - start));
        if (!line.empty() && text_.find(line) == std::string::npos)
            text_ += (text_.empty() ? "" : EndsSentence(text_) ? " " : "; ") + line;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

void LibraryReason::Note(int level, const char* format, va_list args) {
    if (!current || level > AV_LOG_ERROR || level < 0 || !format)
        return;
    char buffer[1024];
    va_list copy;
    va_copy(copy, args);
    vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    current->Add(buffer);
}

} // namespace mobivert::engine
