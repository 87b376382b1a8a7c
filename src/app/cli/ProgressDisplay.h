#pragma once
// The progress of a batch on the command line: on a terminal, one line per running conversion
// with a percentage bar, the speed and the time left, redrawn in place below everything printed
// so far; otherwise plain lines, one per change of the percentage.

#include <cstdio>
#include <map>
#include <optional>
#include <string>

namespace mobivert::cli {

class TProgressDisplay {
public:
    // terminal: redraw in place (width is the terminal's column count).
    TProgressDisplay(FILE* out, bool terminal, int width);

    // percent: 0..100, or -1 while the length of the output is unknown; currentMs is the
    // output time reached; detail is the speed and time left ("2.5x, 0:12 left") or empty.
    void Update(int key, const std::string& label, int percent, int currentMs,
                const std::string& detail = "");
    // The conversion's last line, with its final status; its live line goes away.
    void Finish(int key, const std::string& label, const std::string& status, bool complete);
    // A line printed above the live lines (its line breaks become spaces).
    void Message(const std::string& text);
    // On a terminal, labels are padded to this many columns so that the bars line up.
    void SetLabelWidth(int columns) { labelWidth_ = columns; }

    // "label [#####-----]  50% status" cut to width columns.
    static std::string BarLine(const std::string& label, int percent, int currentMs,
                               const std::string& status, int width);
    // "label: 50% (2.5x, 0:12 left)", the plain line of one change.
    static std::string PlainLine(const std::string& label, int percent, int currentMs,
                                 const std::string& detail);

private:
    // Draws the live lines again, below the permanent line when one is given.
    void Redraw(const std::optional<std::string>& permanent);
    std::string Padded(const std::string& label) const;

    FILE* out_;
    bool terminal_;
    int width_;
    int labelWidth_ = 0;
    int drawn_ = 0; // live lines on the screen below the cursor's line
    std::map<int, std::string> live_;
    std::map<int, int> lastPercent_;
};

// The terminal's column count, or 80.
int TerminalWidth(int fd);

} // namespace mobivert::cli
