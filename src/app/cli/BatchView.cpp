#include "app/cli/BatchView.h"

#include "app/cli/TerminalText.h"

#include <algorithm>
#include <filesystem>
#include <unistd.h>

namespace mobivert::cli {

namespace fs = std::filesystem;

TBatchView::TBatchView(FILE* out, converter::TLogLevel logLevel)
    : terminal_(isatty(fileno(out))),
      display_(out, terminal_, terminal_ ? TerminalWidth(fileno(out)) : 80), logLevel_(logLevel) {}

void TBatchView::ShowFiles(const std::vector<app::TBatchFile>& files) {
    labels_.assign(files.size(), std::string());
    size_t width = 0;
    for (const app::TBatchFile& file : files) {
        if (file.Task < 0)
            continue;
        labels_[file.Task] = Printable(fs::path(file.Source).filename().string());
        width = std::max(width, labels_[file.Task].size());
    }
    display_.SetLabelWidth(static_cast<int>(std::min<size_t>(width, 40)));
}

std::string TBatchView::Label(int task) const {
    return task >= 0 && task < static_cast<int>(labels_.size()) ? labels_[task] : std::string();
}

void TBatchView::TaskLog(int task, converter::TLogLevel level, const std::string& text) {
    if (level == converter::llQuiet || level > logLevel_)
        return;
    const std::string name = Label(task);
    display_.Message((name.empty() ? "" : "[" + name + "] ") + PrintableLine(text));
}

void TBatchView::TaskProgress(int task, int currentMs, const app::TFileFigures& figures) {
    if (const std::string name = Label(task); !name.empty())
        display_.Update(task, name, figures.Percent, currentMs, app::FormatFileFigures(figures));
}

void TBatchView::FileEnded(const app::TBatchFile& file) {
    if (const std::string name = Label(file.Task); !name.empty())
        display_.Finish(file.Task, name, StatusText(file.State, file.Message),
                        app::WasConverted(file.State));
}

std::string StatusText(app::TFileState state, const std::string& message) {
    switch (state) {
    case app::TFileState::Failed:
        return "Failed: " + PrintableLine(message);
    case app::TFileState::Warnings:
        return "Done with warnings: " + PrintableLine(message);
    case app::TFileState::Done:
        return "Done";
    default:
        return "Canceled";
    }
}

namespace {

// A source without a task was refused, or, when it has no reason, never loaded (stopped).
app::TBatchFile FileOfSource(const app::TBatchSource& source,
                             const std::vector<app::TBatchFile>& files) {
    if (source.Task >= 0 && source.Task < static_cast<int>(files.size()))
        return files[source.Task];
    app::TBatchFile file;
    file.State = source.Error.empty() ? app::TFileState::Canceled : app::TFileState::Refused;
    file.Message = source.Error;
    return file;
}

std::string SummaryStatus(const app::TBatchFile& file) {
    if (file.State == app::TFileState::Refused)
        return std::string(app::MSG_ERROR_FOUND) + ": " + PrintableLine(file.Message);
    // A file that never reported an end says nothing.
    if (!app::HasEnded(file.State))
        return "";
    return StatusText(file.State, file.Message);
}

} // namespace

int PrintSummary(const std::vector<app::TBatchSource>& sources,
                 const std::vector<app::TBatchFile>& files) {
    int status = 0;
    for (const app::TBatchSource& source : sources) {
        const app::TBatchFile file = FileOfSource(source, files);
        std::error_code ec;
        const bool haveOutput = !file.Published.empty() && fs::exists(file.Published, ec);
        WriteLine(stdout, source.Path + (haveOutput ? " -> " + file.Published : "") + ": " +
                              SummaryStatus(file));
        if (!app::WasConverted(file.State))
            status = 1;
        else if (file.State == app::TFileState::Warnings && status == 0)
            status = 3;
    }
    std::fflush(stdout);
    return status;
}

} // namespace mobivert::cli
