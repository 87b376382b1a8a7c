#pragma once
// One conversion through a real engine session, the way the converter component drives it:
// input options, the input, output options, the output, then a run.

#include "engine/session/FFmpeg.h"

#include <mutex>
#include <string>
#include <vector>

namespace mobivert::test {

struct LoggedLine {
    int Level;
    std::string Text;
};

struct ProgressRecord {
    int32_t FrameNumber;
    int32_t Fps;
    int32_t TimeMs;
    float Quality;
    float BitRate;
    int64_t Size;
    int32_t TotalMs;
};

class EngineRun {
public:
    EngineRun();
    // Applies the option text, then opens the input; false with the set-up error.
    bool AddInput(const std::string& path, const std::string& options = "");
    bool SetOutput(const std::string& path, const std::string& options = "");
    // Runs synchronously on this thread.
    void Run();
    void RecordProgress(int64_t intervalUs = 0);

    bool Failed() const { return Session.Failed; }
    std::string Error() const;
    std::vector<LoggedLine> Lines();
    bool Logged(const std::string& text);

    mobivert::engine::TCustomFFmpeg Session;
    std::vector<ProgressRecord> Progress;

private:
    std::mutex mutex_;
    std::vector<LoggedLine> lines_;
    std::string setupError_;
};

} // namespace mobivert::test
