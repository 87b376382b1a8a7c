#pragma once
// The batch runner: one batch of conversions as the window and the command line both run it.
// It owns the converter; given the batch's settings and sources it builds or configures their
// tasks through the conversion driver, records the batch in the journal, keeps the clocks and
// each file's state, percentage and end message, pauses, resumes and stops the batch, and
// reports what happens to a listener on the owner's thread. The converter raises its events on
// threads of its own; the runner only records the journal there and hands everything else to
// the owner through the post function the owner supplies, in the order it was raised.

#include "app/shared/BatchJournal.h"
#include "app/shared/ConversionDriver.h"
#include "app/shared/FileState.h"
#include "app/shared/ProgressClock.h"
#include "converter/AVConverter.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace mobivert::app {

// One file of the batch, as far as the runner knows it.
struct TBatchFile {
    std::string Source;
    int Task = -1;
    TFileState State = TFileState::Pending;
    int Percent = -1; // -1 while the output's length is unknown
    // The end report's text: why it failed, or what a converted output lacks.
    std::string Message;
    std::string Output;         // the name chosen for the output
    std::string Published;      // the name the output has after its end step, empty when none
    bool PartialOutput = false; // a canceled file whose partial output was kept
};

struct TBatchCounts {
    int Converted = 0; // done, with or without warnings
    int Failed = 0;
    int Canceled = 0;
    int64_t ElapsedMs = 0; // without the time spent paused
};

// What the runner reports, always on the owner's thread. Tasks are the converter's indexes.
class TBatchListener {
public:
    virtual ~TBatchListener() = default;
    // A line the converter logged for the task (-1 for the converter itself).
    virtual void TaskLog(int /*task*/, converter::TLogLevel /*level*/,
                         const std::string& /*text*/) {}
    // A progress report of a task that has not ended; the figures of its clock.
    virtual void TaskProgress(int task, int currentMs, const TFileFigures& figures) = 0;
    // The file ended (or what it ended with changed: its published or partial output).
    virtual void FileEnded(const TBatchFile& file) = 0;
    // Every file of the batch has ended; those that never reported an end were canceled.
    virtual void BatchEnded(const TBatchCounts& counts) = 0;
};

struct TRunnerOptions {
    // The converter's log lines go to the listener.
    bool ForwardLogs = false;
    // Progress reports that do not know the output's length are dropped.
    bool KnownLengthsOnly = false;
};

class TBatchRunner {
public:
    using TPostToOwner = std::function<void(std::function<void()>)>;

    TBatchRunner(TBatchListener& listener, TPostToOwner postToOwner, TRunnerOptions options = {});
    // No event is handed over any more; the converter stops and waits for its tasks.
    ~TBatchRunner();
    TBatchRunner(const TBatchRunner&) = delete;
    TBatchRunner& operator=(const TBatchRunner&) = delete;

    converter::TAVConverter& Converter() { return *converter_; }
    const converter::TAVConverter& Converter() const { return *converter_; }

    // Loads the libraries through the converter's probe; false when they cannot be loaded.
    bool LoadLibraries(const std::string& directory);
    // Makes the tasks of the sources through the driver, then names and configures their
    // outputs; the sources keep their tasks or get the reason they have none.
    void BuildTasks(std::vector<TBatchSource>& sources, const TBatchSettings& settings);
    // Names and configures the outputs of sources whose tasks exist already.
    void ConfigureOutputs(std::vector<TBatchSource>& sources, const TBatchSettings& settings);

    // Records the batch of the configured sources in a new journal and starts its clocks; each
    // file weighs its work (works follow the sources) when given. False with the reason when
    // the journal cannot be written; the batch runs all the same, unrecorded.
    bool Begin(const std::string& program, const TBatchSettings& settings, int jobs,
               const std::vector<TBatchSource>& sources, std::string& journalError,
               const std::vector<TSourceWork>& works = {});
    // Runs the tasks, jobs at once.
    void Start(int jobs);
    void Pause();
    void Resume();
    // Asks the running tasks to end gracefully; the batch's end is reported as usual.
    void Stop();
    // Ends a batch that never started: its files are canceled, without an end report of their
    // own, and the batch's end is reported.
    void EndUnstarted();
    // Removes every task; events still on their way from earlier tasks are dropped.
    void ClearTasks();

    // The converter's reports, on the owner's thread (the runner's own hooks deliver them).
    void TaskProgress(int task, int currentMs, int totalMs);
    void TaskEnded(int task, bool finished, bool failed, const std::string& message,
                   const std::string& published = {}, bool partial = false);
    void BatchEnd();

    bool Paused() const { return paused_; }
    bool Stopping() const { return stopping_; }
    // The file of the task in the current batch, or nullptr.
    const TBatchFile* FileOfTask(int task) const;
    const std::vector<TBatchFile>& Files() const { return files_; }
    const TBatchCounts& Counts() const { return counts_; }
    TBatchFigures Figures() const { return batchClock_.Figures(NowMs()); }
    // The running batch's journal, empty when none is written.
    std::string JournalPath() const { return journal_.Path(); }

private:
    void ConnectConverter();
    void HoldClocks(bool paused);
    void TakeFiles(const std::vector<TBatchSource>& sources);
    void EndFile(TBatchFile& file, TFileState state, const std::string& message);
    void CancelUnended();
    int64_t NowMs() const;

    TBatchListener& listener_;
    TPostToOwner post_;
    TRunnerOptions options_;
    std::chrono::steady_clock::time_point epoch_ = std::chrono::steady_clock::now();
    // Events carry the generation they were raised in; a newer set of tasks makes them stale.
    std::atomic<int> generation_{0};
    std::atomic<bool> closing_{false};
    // The thread that made the runner: the owner's.
    const std::thread::id owner_ = std::this_thread::get_id();
    bool paused_ = false;
    bool stopping_ = false;
    std::vector<TBatchFile> files_; // by task
    TBatchCounts counts_;
    TBatchClock batchClock_;
    std::map<int, TFileClock> fileClocks_;
    // The running batch's record, kept until the batch ends so that a killed program's batch
    // can be resumed.
    TBatchJournal journal_;
    std::unique_ptr<converter::TAVConverter> converter_;
};

// The state a file's end report gives it: failed, canceled (not finished), or converted, with
// warnings when the report has a message.
TFileState EndState(bool finished, bool failed, const std::string& message);

} // namespace mobivert::app
