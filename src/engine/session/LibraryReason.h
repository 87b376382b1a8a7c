#pragma once
// The codec libraries explain a refusal in their log, not in their result. A LibraryReason
// collects what they log at error level on the calling thread while it lives, so that the
// failure message built after a refused call can carry the library's own words.

#include <cstdarg>
#include <string>

namespace mobivert::engine {

class LibraryReason {
public:
    LibraryReason();
    ~LibraryReason();
    LibraryReason(const LibraryReason&) = delete;
    LibraryReason& operator=(const LibraryReason&) = delete;

    // The error lines logged so far, each trimmed, joined by "; " (by a space after a full stop);
    // empty when there were none.
    const std::string& Text() const { return text_; }
    // The message followed by ": " and the library's reason, or the message alone.
    std::string Explain(const std::string& message) const;

    // For the process's library log callback: hands a message of the given library level to
    // the calling thread's innermost LibraryReason, when there is one and the level is an error.
    static void Note(int level, const char* format, va_list args);

private:
    void Add(const std::string& text);

    LibraryReason* outer_;
    std::string text_;
};

} // namespace mobivert::engine
