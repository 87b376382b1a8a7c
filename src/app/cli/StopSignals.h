#pragma once
// What a stop signal (Ctrl+C, SIGTERM) asks of the command line: the first stops the batch
// gracefully, a later one quits at once. A second signal counts only when it comes at least
// half a second after the first: timeout(1) and other supervisors signal the process and its
// group together, so one request may arrive twice within a moment.

#include <chrono>
#include <optional>

namespace mobivert::cli {

class TStopSignals {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kRepeatDelay = std::chrono::milliseconds(500);

    enum class TAction { Stop, Ignore, Quit };

    TAction Receive(Clock::time_point now) {
        if (!first_) {
            first_ = now;
            return TAction::Stop;
        }
        return now - *first_ >= kRepeatDelay ? TAction::Quit : TAction::Ignore;
    }

private:
    std::optional<Clock::time_point> first_;
};

} // namespace mobivert::cli
