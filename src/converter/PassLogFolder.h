#pragma once
// The folder a run coded in two passes keeps its first pass's statistics in: made afresh for
// each run (so that two runs at once never share a log), private to the user, and removed with
// everything the encoders put into it when the run ends.

#include <string>

namespace mobivert::converter {

class TPassLogFolder {
public:
    TPassLogFolder() = default;
    ~TPassLogFolder();
    TPassLogFolder(const TPassLogFolder&) = delete;
    TPassLogFolder& operator=(const TPassLogFolder&) = delete;

    // Makes the folder in $TMPDIR (else /tmp); false with the reason in error.
    bool Create(std::string& error);
    // The statistics log's name in it (the engine adds its stream number; encoders add their
    // own endings beside it).
    std::string LogName() const { return path_.empty() ? "" : path_ + "/video"; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

} // namespace mobivert::converter
