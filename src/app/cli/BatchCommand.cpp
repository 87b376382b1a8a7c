#include "app/cli/BatchCommand.h"

#include "app/cli/BatchView.h"
#include "app/cli/ExtraOptionCheck.h"
#include "app/cli/MainLoopQueue.h"
#include "app/cli/SignalWatcher.h"
#include "app/cli/TerminalText.h"
#include "app/shared/BatchJournal.h"
#include "app/shared/BatchRunner.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/Settings.h"
#include "converter/Libraries.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mobivert::cli {

namespace {

namespace fs = std::filesystem;

std::vector<app::TBatchSource> SourcesOf(const std::vector<std::string>& files) {
    std::vector<app::TBatchSource> sources;
    for (const std::string& file : files) {
        std::error_code ec;
        fs::path absolute = fs::absolute(file, ec);
        app::TBatchSource source;
        source.Path = ec ? file : absolute.lexically_normal().string();
        sources.push_back(source);
    }
    return sources;
}

// Converts the files with the settings, jobs at once, recording the batch in a journal until
// it ends; begun is called once the new journal is written.
int RunBatch(const TCliOptions& options, const app::TBatchSettings& settings,
             const std::vector<std::string>& files, int jobs,
             const std::function<void()>& begun = {}) {
    std::atomic<bool> stopRequested{false};
    TMainLoopQueue queue;
    // Before any other thread exists, so that every thread inherits the blocked signals.
    TSignalWatcher watcher(stopRequested, queue);

    TBatchView view(stderr, options.LogLevel);
    app::TBatchRunner runner(view,
                             [&queue](std::function<void()> call) { queue.Post(std::move(call)); },
                             {.ForwardLogs = true});
    converter::TAVConverter& converter = runner.Converter();
    converter.SetLogLevel(options.LogLevel);
    converter.SetProgressInterval(view.Terminal() ? 250 : 1000);
    if (!runner.LoadLibraries(converter::ProgramLibDirectory())) {
        WriteLine(stderr, app::MSG_LIB_NOT_LOADED);
        WriteLine(stderr, PrintableLine(converter.LastError()));
        return 1;
    }

    // A stop request while the sources are loaded ends the loading.
    std::vector<app::TBatchSource> sources = SourcesOf(files);
    app::TBatchSettings batchSettings = settings;
    batchSettings.Cancel = &stopRequested;
    runner.BuildTasks(sources, batchSettings);
    std::string journalError;
    if (!runner.Begin("mobivert-cli", settings, jobs, sources, journalError))
        view.Message(journalError);
    if (begun)
        begun();
    view.ShowFiles(runner.Files());

    auto drain = [&queue, &stopRequested](std::chrono::milliseconds timeout) {
        for (const TMainLoopQueue::TCall& call : queue.Take(timeout, stopRequested))
            call();
    };
    // Lines logged while the tasks were set up.
    drain(std::chrono::milliseconds(0));

    if (stopRequested.exchange(false) || converter.TaskCount() == 0) {
        // Stopped before anything ran (or nothing to run): no task starts.
        runner.EndUnstarted();
    } else {
        runner.Start(jobs);
        while (!view.BatchHasEnded()) {
            if (stopRequested.exchange(false)) {
                view.Message("Stopping (press Ctrl+C again to quit at once)...");
                runner.Stop();
            }
            drain(std::chrono::milliseconds(100));
        }
    }
    const std::vector<app::TBatchFile> ended = runner.Files();
    // Frees the sessions; an output that never received data is deleted with its session.
    runner.ClearTasks();
    return PrintSummary(sources, ended);
}

} // namespace

int Convert(const TCliOptions& options) {
    app::TBatchSettings settings;
    settings.PresetText = options.PresetText;
    settings.Choices = options.Choices;
    if (options.OutputFolderGiven) {
        settings.OutputFolder = options.OutputFolder;
    } else if (options.SameFolder) {
        settings.SameFolder = true;
    } else {
        app::TMainSettings stored = app::LoadMainSettings(app::ConfigFilePath());
        settings.OutputFolder = stored.OutputFolder;
        settings.SameFolder = stored.SameFolder;
    }
    if (!settings.SameFolder) {
        // Reported output paths are whole paths, whatever folder the program runs in.
        std::error_code ec;
        fs::path folder = fs::absolute(settings.OutputFolder, ec);
        if (!ec)
            settings.OutputFolder = folder.lexically_normal().string();
    }
    // A mistyped engine option is refused before any file is touched (when the libraries
    // cannot be loaded, the batch says so as usual).
    if (converter::LoadLibrariesForChecks()) {
        std::string refusal = CheckExtraOptions(options.InputExtLines, options.OutputExtLines);
        if (!refusal.empty()) {
            std::fprintf(stderr, "mobivert-cli: %s\nTry 'mobivert-cli --help'.\n",
                         Printable(refusal).c_str());
            return 2;
        }
    }
    for (const std::string& line : options.InputExtLines)
        settings.InputExtOptions += line + "\n";
    for (const std::string& line : options.OutputExtLines)
        settings.OutputExtOptions += line + "\n";

    return RunBatch(options, settings, options.Files, options.Jobs);
}

// Finishes the files of every batch whose program is gone, each with its own settings; the work
// files the dead run left are removed.
int Resume(const TCliOptions& options) {
    std::vector<std::string> messages;
    std::vector<app::TUnfinishedBatch> batches = app::FindUnfinishedBatches(messages);
    for (const std::string& message : messages)
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(message));
    if (batches.empty()) {
        WriteLine(stderr, "mobivert-cli: no unfinished batch to resume");
        return messages.empty() ? 0 : 1;
    }
    int status = 0;
    for (app::TUnfinishedBatch& batch : batches) {
        std::vector<std::string> files = batch.PendingSources();
        WriteLine(stderr, "mobivert-cli: resuming " + std::to_string(files.size()) +
                              " file(s) to " + batch.Batch.Settings.PresetText);
        app::RemoveLeftoverWorkFiles(batch);
        int result = files.empty() ? 0
                                   : RunBatch(options, batch.Batch.Settings, files,
                                              options.JobsGiven ? options.Jobs : batch.Batch.Jobs,
                                              [&batch] { app::DiscardUnfinishedBatch(batch); });
        app::DiscardUnfinishedBatch(batch);
        if (result == 1 || (result == 3 && status == 0))
            status = result;
    }
    return status;
}

} // namespace mobivert::cli
