#pragma once
// The batch on the terminal: the converter's log lines at the level asked for, a live line per
// running file, each file's end, and at the batch's end one line per source with its output and
// what became of it.

#include "app/cli/ProgressDisplay.h"
#include "app/shared/BatchRunner.h"

#include <string>
#include <vector>

namespace mobivert::cli {

class TBatchView : public app::TBatchListener {
public:
    TBatchView(FILE* out, converter::TLogLevel logLevel);

    bool Terminal() const { return terminal_; }
    void Message(const std::string& text) { display_.Message(text); }
    // The files of the batch, whose names label their lines.
    void ShowFiles(const std::vector<app::TBatchFile>& files);
    bool BatchHasEnded() const { return ended_; }

    void TaskLog(int task, converter::TLogLevel level, const std::string& text) override;
    void TaskProgress(int task, int currentMs, const app::TFileFigures& figures) override;
    void FileEnded(const app::TBatchFile& file) override;
    void BatchEnded(const app::TBatchCounts&) override { ended_ = true; }

private:
    std::string Label(int task) const;

    bool terminal_;
    TProgressDisplay display_;
    converter::TLogLevel logLevel_;
    std::vector<std::string> labels_; // by task
    bool ended_ = false;
};

// What the summary and the display say of a file: "Done", "Done with warnings: ...",
// "Failed: ...", "Canceled".
std::string StatusText(app::TFileState state, const std::string& message);

// The summary's lines, "source -> output: status" (the output when it is there), one per source
// in the order given; files are the batch's files by task. Returns the exit status: 0 when every
// source was converted cleanly, 3 when all were converted but some with warnings, 1 otherwise.
int PrintSummary(const std::vector<app::TBatchSource>& sources,
                 const std::vector<app::TBatchFile>& files);

} // namespace mobivert::cli
