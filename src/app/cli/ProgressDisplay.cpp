#include "app/cli/ProgressDisplay.h"

#include "app/cli/TerminalText.h"

#include <algorithm>
#include <sys/ioctl.h>

namespace mobivert::cli {

namespace {

constexpr int BAR_WIDTH = 30;

std::string Clock(int ms) {
    if (ms < 0)
        ms = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60);
    return text;
}

} // namespace

int TerminalWidth(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

TProgressDisplay::TProgressDisplay(FILE* out, bool terminal, int width)
    : out_(out), terminal_(terminal), width_(std::max(width, 20)) {}

std::string TProgressDisplay::BarLine(const std::string& label, int percent, int currentMs,
                                      const std::string& status, int width) {
    std::string line = label + " [";
    if (percent < 0) {
        line += std::string(BAR_WIDTH, '?') + "]  " + Clock(currentMs);
    } else {
        int filled = std::clamp(percent, 0, 100) * BAR_WIDTH / 100;
        char number[8];
        std::snprintf(number, sizeof number, "%3d%%", std::clamp(percent, 0, 100));
        line += std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-') + "] " + number;
    }
    if (!status.empty())
        line += " " + status;
    // A line wider than the terminal would wrap and break the redraw: cut it, keeping the
    // bar and status at the end visible by shortening the label first.
    // Cuts fall between characters, never inside one.
    if (static_cast<int>(line.size()) > width) {
        size_t excess = line.size() - width;
        if (excess + 3 < label.size()) {
            size_t from = excess + 3;
            while (from < line.size() && (static_cast<unsigned char>(line[from]) & 0xC0) == 0x80)
                ++from;
            line = "..." + line.substr(from);
        } else {
            line.resize(FittingBytes(line, width));
        }
    }
    return line;
}

std::string TProgressDisplay::Padded(const std::string& label) const {
    if (static_cast<int>(label.size()) >= labelWidth_)
        return label;
    return label + std::string(labelWidth_ - label.size(), ' ');
}

void TProgressDisplay::Redraw(const std::optional<std::string>& permanent) {
    if (drawn_ > 0)
        std::fprintf(out_, "\x1b[%dA\r\x1b[J", drawn_);
    if (permanent)
        WriteLine(out_, *permanent);
    for (const auto& [key, line] : live_)
        WriteLine(out_, line);
    drawn_ = static_cast<int>(live_.size());
    std::fflush(out_);
}

std::string TProgressDisplay::PlainLine(const std::string& label, int percent, int currentMs,
                                        const std::string& detail) {
    std::string line =
        label + ": " + (percent >= 0 ? std::to_string(percent) + "%" : Clock(currentMs));
    return detail.empty() ? line : line + " (" + detail + ")";
}

void TProgressDisplay::Update(int key, const std::string& label, int percent, int currentMs,
                              const std::string& detail) {
    if (terminal_) {
        lastPercent_[key] = percent;
        live_[key] =
            BarLine(Padded(Printable(label)), percent, currentMs, Printable(detail), width_);
        Redraw(std::nullopt);
        return;
    }
    auto last = lastPercent_.find(key);
    if (percent >= 0 && last != lastPercent_.end() && last->second == percent)
        return;
    lastPercent_[key] = percent;
    WriteLine(out_, PlainLine(label, percent, currentMs, detail), true);
}

void TProgressDisplay::Finish(int key, const std::string& label, const std::string& status,
                              bool complete) {
    if (terminal_) {
        live_.erase(key);
        auto last = lastPercent_.find(key);
        int percent = complete ? 100 : last != lastPercent_.end() ? last->second : 0;
        Redraw(BarLine(Padded(Printable(label)), percent, 0, Printable(status), width_));
        return;
    }
    WriteLine(out_, label + ": " + status, true);
}

void TProgressDisplay::Message(const std::string& text) {
    if (terminal_) {
        Redraw(PrintableLine(text));
        return;
    }
    WriteLine(out_, PrintableLine(text), true);
}

} // namespace mobivert::cli
