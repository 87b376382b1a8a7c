// mobivert-cli: the command-line front end. It converts files with the same presets, output
// choices and conversion driver as the window, for scripts and machines without a display.

#include "app/cli/CliOptions.h"
#include "app/cli/ExtraOptionCheck.h"
#include "app/cli/InfoCommand.h"
#include "app/cli/PresetCommands.h"
#include "app/cli/ProgressDisplay.h"
#include "app/cli/StopSignals.h"
#include "app/cli/TerminalText.h"
#include "app/shared/BatchJournal.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/FileState.h"
#include "app/shared/HeapPolicy.h"
#include "app/shared/Presets.h"
#include "app/shared/ProgressClock.h"
#include "app/shared/Settings.h"
#include "app/shared/UserPresets.h"
#include "converter/AVConverter.h"
#include "converter/Libraries.h"
#include "converter/WorkFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace fs = std::filesystem;
using namespace mobivert;
using cli::Printable;
using cli::PrintableLine;
using cli::WriteLine;
using converter::TLogLevel;

// The component's events, handed from the threads that raise them to the main thread. Pushing
// only takes a short lock of its own, so the component's lock is never held while waiting for
// the main thread.
struct Event {
    enum Kind { Log, Progress, Terminate } Type;
    int Index;
    TLogLevel Level = converter::llInfo;
    std::string Text;
    int CurrentMs = 0;
    int TotalMs = -1;
    bool Finished = false;
    bool Failed = false;
    std::string Output = {}; // the name the output has after its end step
};

class EventQueue {
public:
    void Push(Event event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_one();
    }
    void Wake() { changed_.notify_one(); }
    // Waits up to the timeout for events or for wake(), then takes what there is.
    std::deque<Event> Take(std::chrono::milliseconds timeout, const std::atomic<bool>& wake) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return !events_.empty() || wake.load(); });
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> events_;
};

// SIGINT and SIGTERM are blocked in every thread and taken by one thread of their own: the
// first asks the batch to stop, a later one ends the program at once (see TStopSignals).
class SignalWatcher {
public:
    SignalWatcher(std::atomic<bool>& stopRequested, EventQueue& queue) {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        sigaddset(&signals_, SIGUSR2); // ends the watcher itself
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
        thread_ = std::thread([this, &stopRequested, &queue] {
            cli::TStopSignals requests;
            for (;;) {
                siginfo_t info{};
                int signal = sigwaitinfo(&signals_, &info);
                if (signal < 0)
                    continue;
                if (signal == SIGUSR2 && info.si_pid == getpid())
                    return;
                if (signal == SIGUSR2)
                    continue;
                switch (requests.Receive(cli::TStopSignals::Clock::now())) {
                case cli::TStopSignals::TAction::Ignore:
                    break;
                case cli::TStopSignals::TAction::Stop:
                    stopRequested = true;
                    queue.Wake();
                    break;
                case cli::TStopSignals::TAction::Quit: {
                    // No unfinished file is left behind: the running tasks' work files go.
                    converter::RemoveLiveWorkFiles();
                    const char text[] = "\nmobivert-cli: interrupted\n";
                    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, text, sizeof text - 1);
                    _exit(130);
                }
                }
            }
        });
    }
    ~SignalWatcher() {
        pthread_kill(thread_.native_handle(), SIGUSR2);
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    sigset_t signals_;
    sigset_t previous_;
    std::thread thread_;
};

struct SourceState {
    app::TFileState State = app::TFileState::Pending;
    // "Done", "Done with warnings: ...", "Failed: ...", "Canceled", "Error found: ..."
    std::string Status;
    std::string Output; // the output's name, when one was kept
};

// What the summary and the display say of a file that ended.
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

// Converts the files with the settings, jobs at once, recording the batch in a journal until
// it ends; begun is called once the new journal is written.
int RunBatch(const cli::TCliOptions& options, const app::TBatchSettings& settings,
             const std::vector<std::string>& files, int jobs,
             const std::function<void()>& begun = {}) {
    std::atomic<bool> stopRequested{false};
    EventQueue queue;
    // Before any other thread exists, so that every thread inherits the blocked signals.
    SignalWatcher watcher(stopRequested, queue);

    bool terminal = isatty(STDERR_FILENO);
    cli::TProgressDisplay display(stderr, terminal,
                                  terminal ? cli::TerminalWidth(STDERR_FILENO) : 80);

    converter::TAVConverter converter;
    converter.SetLogLevel(options.LogLevel);
    converter.SetProgressInterval(terminal ? 250 : 1000);
    app::TConversionDriver driver(converter);
    if (!driver.LoadLibraries(converter::ProgramLibDirectory())) {
        WriteLine(stderr, app::MSG_LIB_NOT_LOADED);
        WriteLine(stderr, PrintableLine(converter.LastError()));
        return 1;
    }

    std::vector<app::TBatchSource> sources;
    for (const std::string& file : files) {
        std::error_code ec;
        fs::path absolute = fs::absolute(file, ec);
        app::TBatchSource source;
        source.Path = ec ? file : absolute.lexically_normal().string();
        sources.push_back(source);
    }

    converter.OnLog = [&queue](int index, TLogLevel level, const std::string& text) {
        queue.Push({Event::Log, index, level, text});
    };
    converter.OnProgress = [&queue](int index, int, int, int currentMs, float, float, int64_t,
                                    int totalMs) {
        queue.Push({Event::Progress, index, converter::llInfo, "", currentMs, totalMs});
    };
    converter.PublishOutputs = true;
    app::TBatchJournal journal;
    converter.OnTerminate = [&queue, &converter, &journal](int index, bool finished, bool failed,
                                                           const std::string& message) {
        const std::optional<converter::TTaskStatus> task = converter.TaskStatus(index);
        if (task)
            journal.TaskEnded(index, *task);
        queue.Push({Event::Terminate, index, converter::llInfo, message, 0, -1, finished, failed,
                    task ? task->PublishedName : std::string()});
    };

    // A stop request while the sources are loaded ends the loading.
    app::TBatchSettings batchSettings = settings;
    batchSettings.Cancel = &stopRequested;
    driver.LoadSources(sources, batchSettings);
    driver.ConfigureOutputs(sources, batchSettings);
    std::string journalError;
    if (!journal.Begin(app::JournalOf("mobivert-cli", settings, jobs, sources, converter),
                       journalError))
        display.Message(journalError);
    if (begun)
        begun();

    std::vector<SourceState> states(sources.size());
    std::vector<int> sourceOfTask(converter.TaskCount(), -1);
    for (size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].Task >= 0)
            sourceOfTask[sources[i].Task] = static_cast<int>(i);
        else
            states[i] = {app::TFileState::Refused,
                         std::string(app::MSG_ERROR_FOUND) + ": " + PrintableLine(sources[i].Error),
                         ""};
    }
    auto label = [&](int task) {
        int source =
            task >= 0 && task < static_cast<int>(sourceOfTask.size()) ? sourceOfTask[task] : -1;
        return source < 0 ? std::string()
                          : Printable(fs::path(sources[source].Path).filename().string());
    };

    size_t labelWidth = 0;
    for (int task = 0; task < static_cast<int>(sourceOfTask.size()); ++task)
        labelWidth = std::max(labelWidth, label(task).size());
    display.SetLabelWidth(static_cast<int>(std::min<size_t>(labelWidth, 40)));

    bool batchEnded = converter.TaskCount() == 0;
    std::map<int, app::TFileClock> clocks; // speed and time left of each running task
    auto handle = [&](const Event& e) {
        switch (e.Type) {
        case Event::Log:
            if (e.Level != converter::llQuiet && e.Level <= options.LogLevel) {
                std::string name = label(e.Index);
                display.Message((name.empty() ? "" : "[" + name + "] ") + PrintableLine(e.Text));
            }
            break;
        case Event::Progress:
            if (!label(e.Index).empty()) {
                app::TFileFigures figures = clocks[e.Index].Update(e.CurrentMs, e.TotalMs, NowMs());
                display.Update(e.Index, label(e.Index), figures.Percent, e.CurrentMs,
                               app::FormatFileFigures(figures));
            }
            break;
        case Event::Terminate:
            if (e.Index < 0) {
                batchEnded = true;
                break;
            }
            if (!label(e.Index).empty()) {
                SourceState& state = states[sourceOfTask[e.Index]];
                state.State = e.Failed         ? app::TFileState::Failed
                              : !e.Finished    ? app::TFileState::Canceled
                              : e.Text.empty() ? app::TFileState::Done
                                               : app::TFileState::Warnings;
                state.Output = e.Output;
                state.Status = StatusText(state.State, e.Text);
                display.Finish(e.Index, label(e.Index), state.Status,
                               app::WasConverted(state.State));
            }
            break;
        }
    };

    // Lines logged while the tasks were set up.
    for (const Event& e : queue.Take(std::chrono::milliseconds(0), stopRequested))
        handle(e);

    if (stopRequested.exchange(false)) {
        // Stopped before anything ran: no task starts, and the sources not yet loaded are
        // canceled too.
        for (size_t i = 0; i < sources.size(); ++i)
            if (sources[i].Task >= 0 || sources[i].Error.empty())
                states[i] = {app::TFileState::Canceled, StatusText(app::TFileState::Canceled, ""),
                             ""};
        batchEnded = true;
    }
    if (!batchEnded) {
        converter.StartConvert(jobs);
        while (!batchEnded) {
            if (stopRequested.exchange(false)) {
                display.Message("Stopping (press Ctrl+C again to quit at once)...");
                converter.StopConvert();
            }
            for (const Event& e : queue.Take(std::chrono::milliseconds(100), stopRequested))
                handle(e);
        }
    }
    // Frees the sessions; an output that never received data is deleted with its session.
    converter.ClearTasks();
    journal.End();

    // 0 all converted cleanly, 3 all converted but some with warnings, 1 anything else.
    int status = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        const app::TBatchSource& source = sources[i];
        std::error_code ec;
        bool haveOutput = !states[i].Output.empty() && fs::exists(states[i].Output, ec);
        WriteLine(stdout, source.Path + (haveOutput ? " -> " + states[i].Output : "") + ": " +
                              states[i].Status);
        if (!app::WasConverted(states[i].State))
            status = 1;
        else if (states[i].State == app::TFileState::Warnings && status == 0)
            status = 3;
    }
    std::fflush(stdout);
    return status;
}

int Convert(const cli::TCliOptions& options) {
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
        std::string refusal = cli::CheckExtraOptions(options.InputExtLines, options.OutputExtLines);
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

    std::vector<app::TBatchSource> sources;
    for (const std::string& file : options.Files) {
        std::error_code ec;
        fs::path absolute = fs::absolute(file, ec);
        app::TBatchSource source;
        source.Path = ec ? file : absolute.lexically_normal().string();
        sources.push_back(source);
    }

    return RunBatch(options, settings, options.Files, options.Jobs);
}

// Finishes the files of every batch whose program is gone, each with its own settings; the work
// files the dead run left are removed.
int Resume(const cli::TCliOptions& options) {
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

} // namespace

int main(int argc, char** argv) {
    app::KeepLargeBuffersOffTheHeap();
    cli::TCliOptions options;
    std::string error;
    if (!cli::ParseCommandLine(argc, argv, options, error)) {
        WriteLine(stderr, "mobivert-cli: " + PrintableLine(error));
        WriteLine(stderr, "Try 'mobivert-cli --help'.");
        return 2;
    }
    switch (options.Command) {
    case cli::TCommand::Version:
        return cli::PrintLibraryVersions();
    case cli::TCommand::Help:
        std::fputs(cli::UsageText().c_str(), stdout);
        return 0;
    case cli::TCommand::ListPresets:
        return cli::ListPresets(options);
    case cli::TCommand::SavePreset:
        return cli::SaveUserPreset(options);
    case cli::TCommand::ImportPreset:
        return cli::ImportUserPreset(options);
    case cli::TCommand::ExportPreset:
        return cli::ExportUserPreset(options);
    case cli::TCommand::Info:
        return cli::Info(options);
    case cli::TCommand::Resume:
        return Resume(options);
    case cli::TCommand::Convert:
        break;
    }
    return Convert(options);
}
