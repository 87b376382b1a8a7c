// mobivert-worker: runs one conversion task in a process of its own, for the converter
// component. The job (file names and option records) arrives as text on descriptor 3; log lines,
// progress and the end report go back on it, and "pause", "resume" and "stop" come in on it
// while the task runs. A library abort here ends this process, not the converter's batch.
//
// Started with "--serve" it is one of a batch's pre-loaded workers instead: it loads the
// libraries once and runs task after task as above, each on a channel the converter hands over.
//
// MOBIVERT_WORKER_FAULT makes the worker fail on purpose, for tests of the converter's
// recovery: "start" aborts before anything is opened, "progress" aborts at the first progress
// report, "no-report" exits without an end report. "POINT:TEXT" limits it to inputs whose file
// name contains TEXT. "unanswered" makes a pre-loaded worker end on a task's request before it
// answers; "linger" leaves a thread running after the task, which a pre-loaded worker takes as
// unfit for another.

#include "converter/AVConverter.h"
#include "converter/FFmpegTask.h"
#include "converter/WorkerPool.h"
#include "converter/WorkerProtocol.h"
#include "worker/TaskServing.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace mobivert::converter;

namespace {

// The channel of the task at hand: descriptor 3 in a worker started for one task.
int channel = 3;

std::mutex sendMutex;

void Report(const std::string& text) {
    std::lock_guard lock(sendMutex);
    WriteAll(channel, text);
}

// The failure a run inside the component would report for a refused set-up.
void FailTask(const std::string& message) {
    Report(LogReportText(-1, message));
    Report(EndReportText(false, true, message));
}

bool FaultAt(const char* point, const std::string& inputFileName) {
    const char* fault = std::getenv("MOBIVERT_WORKER_FAULT");
    if (!fault)
        return false;
    std::string text = fault;
    std::string where = text.substr(0, text.find(':'));
    std::string match = text.find(':') == std::string::npos ? "" : text.substr(text.find(':') + 1);
    return where == point && inputFileName.find(match) != std::string::npos;
}

bool ReadJob(TLineReader& reader, TWorkerJob& job) {
    for (;;) {
        std::string line;
        while (reader.Next(line)) {
            bool done = false;
            if (!ReadJobLine(job, line, done))
                return false;
            if (done)
                return true;
        }
        if (!reader.Fill(channel))
            return false;
    }
}

// Pause, resume and stop from the converter; when it is gone the run stops as if asked to. Ends
// when the channel is shut down once the task is over.
void FollowControls(TLineReader reader, TAVConverter& converter, const std::atomic<bool>& over) {
    for (;;) {
        std::string line;
        while (reader.Next(line)) {
            if (line == CONTROL_PAUSE)
                converter.PauseConvert();
            else if (line == CONTROL_RESUME)
                converter.ResumeConvert();
            else if (line == CONTROL_STOP)
                converter.StopConvert();
            else
                converter.TaskLog(
                    0, 1, "The converter sent a control that cannot be read: " + Escape(line));
        }
        if (!reader.Fill(channel)) {
            if (!over)
                converter.StopConvert();
            return;
        }
    }
}

// MOBIVERT_WORKER_FAULT=linger: a thread of the task's outlives it.
void LingerIfAsked(const std::string& inputFileName) {
    if (FaultAt("linger", inputFileName))
        std::thread([] { std::this_thread::sleep_for(std::chrono::hours(1)); }).detach();
}

// Runs the task whose job arrives on the channel, to its end report; false when the job could
// not be read or the run could not be followed to its end, so this process takes no other.
bool RunTask(int taskChannel) {
    channel = taskChannel;
    TLineReader reader;
    TWorkerJob job;
    if (!ReadJob(reader, job)) {
        Report(EndReportText(false, true, MSG_JOB_UNREADABLE));
        return false;
    }
    if (FaultAt("start", job.InputFileName))
        std::abort();
    bool faultAtProgress = FaultAt("progress", job.InputFileName);
    bool faultAtEnd = FaultAt("no-report", job.InputFileName);

    // What the run's end report is waited for with outlives the converter, whose threads raise it.
    std::mutex mutex;
    std::condition_variable changed;
    bool batchEnded = false;
    TAVConverter converter;
    converter.RunInWorkers = false;
    converter.OnLog = [](int, TLogLevel level, const std::string& text) {
        Report(LogReportText(static_cast<int>(level) - 1, text));
    };
    converter.OnProgress = [faultAtProgress](int, int frame, int fps, int timeMs, float quality,
                                             float bitRate, int64_t size, int totalMs) {
        if (faultAtProgress)
            std::abort();
        Report(ProgressReportText(frame, fps, timeMs, quality, bitRate, size, totalMs));
    };
    converter.OnTerminate = [&, faultAtEnd](int index, bool finished, bool failed,
                                            const std::string& message) {
        if (index >= 0 && faultAtEnd)
            _exit(0);
        if (index >= 0) {
            Report(EndReportText(finished, failed, message));
            return;
        }
        std::lock_guard lock(mutex);
        batchEnded = true;
        changed.notify_all();
    };

    if (!converter.LoadAVLib(job.LibraryDirectory, job.VersionedNames)) {
        FailTask(converter.LastError());
        return true;
    }
    converter.SetLogLevel(static_cast<TLogLevel>(job.LogLevel));
    converter.SetProgressInterval(job.ProgressIntervalMs);
    converter.SetKnownInput(job.InputFileName, job.KnownInputView);
    // The converter checked the input and the output when it set the task up: the run opens
    // them once, and a file that no longer opens fails there as it would in the converter.
    int index =
        converter.AddCheckedTask(job.InputFileName, job.HasInputRecord ? &job.Input : nullptr,
                                 job.OutputFileName, job.HasOutputRecord ? &job.Output : nullptr);
    if (index < 0) {
        FailTask(converter.LastError());
        return true;
    }
    converter.Tasks(index)->OutputFormatName = job.OutputFormat;
    // The converter created the output's work file and handed it over: the run writes through
    // it, never by a name.
    converter.Tasks(index)->OutputDescriptor = job.OutputDescriptor;
    converter.Tasks(index)->OwnerConcurrentRuns = job.ConcurrentRuns;

    // Controls are followed once the run exists: a pause sent while the task was being set up
    // then holds it at its first safe point instead of being lost.
    std::atomic<bool> over{false};
    converter.StartConvert(1);
    std::thread follower(FollowControls, std::move(reader), std::ref(converter), std::cref(over));
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return batchEnded; });
    }
    // Everything is reported and the output is closed: the follower ends with the channel, and
    // the converter, going, waits for the run's threads.
    over = true;
    shutdown(channel, SHUT_RD);
    follower.join();
    LingerIfAsked(job.InputFileName);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == WORKER_SERVE_ARGUMENT)
        _exit(mobivert::worker::ServeTasks(RunTask));
    // A worker started for one task: the system takes back whatever is left.
    _exit(RunTask(channel) ? 0 : 2);
}
