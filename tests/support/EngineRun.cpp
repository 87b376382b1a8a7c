#include "support/EngineRun.h"

#include "engine/session/FFMpegException.h"

namespace mobivert::test {

using mobivert::engine::FFMpegException;
using mobivert::engine::TCustomFFmpeg;

EngineRun::EngineRun() {
    Session.InitSession();
    Session.OnLog = [this](TCustomFFmpeg&, int level, const std::string& text) {
        std::lock_guard lock(mutex_);
        lines_.push_back({level, text});
    };
}

bool EngineRun::AddInput(const std::string& path, const std::string& options) {
    try {
        Session.ApplyOptionText(options);
    } catch (const FFMpegException& e) {
        setupError_ = e.what();
        return false;
    }
    if (!Session.OpenInputFile(path)) {
        setupError_ = Session.SetupError;
        return false;
    }
    return true;
}

bool EngineRun::SetOutput(const std::string& path, const std::string& options) {
    try {
        Session.ApplyOptionText(options);
    } catch (const FFMpegException& e) {
        setupError_ = e.what();
        return false;
    }
    if (!Session.OpenOutputFile(path)) {
        setupError_ = Session.SetupError;
        return false;
    }
    return true;
}

void EngineRun::RecordProgress(int64_t intervalUs) {
    Session.ProgressInterval = intervalUs;
    Session.OnProgress = [this](TCustomFFmpeg&, int32_t frame, int32_t fps, int32_t timeMs,
                                float quality, float bitRate, int64_t size, int32_t totalMs) {
        Progress.push_back({frame, fps, timeMs, quality, bitRate, size, totalMs});
    };
}

void EngineRun::Run() {
    Session.StartConvert(false, mobivert::engine::tpNormal);
}

std::string EngineRun::Error() const {
    return Session.ErrorMessage.empty() ? setupError_ : Session.ErrorMessage;
}

std::vector<LoggedLine> EngineRun::Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool EngineRun::Logged(const std::string& text) {
    std::lock_guard lock(mutex_);
    for (const LoggedLine& line : lines_)
        if (line.Text.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace mobivert::test
