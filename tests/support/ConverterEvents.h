#pragma once
// The converter component's events as a test collects them: each task's end and the batch's,
// log lines and progress reports, recorded from whichever thread raises them, and waits for
// the batch's end.
//
// The converter raises its events holding its own lock, so that lock comes before Mutex: a
// test never asks the converter while it holds Mutex. The accessors copy what was recorded
// under Mutex and let it go again.

#include "converter/AVConverter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mobivert::test {

// One OnTerminate: a task's end, or the batch's (Index -1).
struct TerminateRecord {
    int Index = -1;
    bool Finished = false;
    bool Exception = false;
    std::string Message;
    std::string Published; // the task's published name, when RecordedEvents::PublishedNames
    pid_t Thread = 0;      // the thread that raised it
    std::chrono::steady_clock::time_point When;
};

struct LogRecord {
    int Index;
    converter::TLogLevel Level;
    std::string Text;
};

struct ProgressReport {
    int Index;
    int FrameNumber;
    int Fps;
    int CurrentMs;
    float Quality;
    float BitRate;
    int64_t Size;
    int TotalMs;
};

// Which events Attach connects besides the ends, which it always does.
struct RecordedEvents {
    bool Logs = true;
    bool Progress = true;
    // Each task's end also records its published name, read from the converter before the
    // end is recorded.
    bool PublishedNames = false;
};

class ConverterEvents {
public:
    // Sets the converter's OnTerminate and, as chosen, its OnLog and OnProgress.
    void Attach(converter::TAVConverter& converter, RecordedEvents what = {});

    // Called on the converter's thread with each progress report's task, before the report is
    // recorded and outside Mutex, so it may ask the converter.
    std::function<void(int index)> BeforeProgress;

    // True when the last end recorded is the batch's.
    bool BatchEnded();
    bool WaitBatchEnd(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Until the task has reported progress or the batch has ended.
    bool WaitProgressOrEnd(int index, std::chrono::milliseconds timeout);

    // The indexes of the ends in the order they came, the batch's as -1.
    std::vector<int> TerminateOrder();
    // The tasks' ends in the order they came, without the batch's.
    std::vector<TerminateRecord> TaskEnds();
    // The task's last end; one that says nothing (not finished, no exception, no message)
    // when the task has none.
    TerminateRecord EndOf(int index);
    std::vector<LogRecord> LogLines();
    std::vector<ProgressReport> ProgressReports();
    // How many progress reports the task made, and the position of its last one (0 for none).
    int ProgressCountOf(int index);
    int LastPositionOf(int index);

    // Forgets everything recorded, as before a new batch.
    void Clear();

    // What was recorded, for a test that reads several of them at once under Mutex.
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<TerminateRecord> Terminates;
    std::vector<LogRecord> Logs;
    std::vector<ProgressReport> Progress;
    std::atomic<int> ProgressCount{0};

private:
    bool BatchEndedLocked() const;
};

} // namespace mobivert::test
