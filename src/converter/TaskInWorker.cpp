// Running a task's transcode in a worker process: the job goes out as text, the worker's log
// lines, progress and end report come back and are raised as the session's own events, on the
// thread that runs the task, in the order the worker sent them.

#include "converter/FFmpegTask.h"
#include "converter/WorkerProcess.h"
#include "engine/session/FFMpegException.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/stat.h>

namespace mobivert::converter {

namespace {

// How often the run looks at stop and pause requests while the worker is silent.
constexpr int CONTROL_POLL_MS = 20;
// How long a worker asked to stop may go on before it is ended: a run stops at its next
// packet, so only a worker that hangs (or was stopped by a signal) takes longer.
constexpr auto STOP_GRACE = std::chrono::seconds(5);

struct FileState {
    bool Exists = false;
    struct stat Info {};
};

FileState StateOf(const std::string& path) {
    FileState state;
    state.Exists = stat(path.c_str(), &state.Info) == 0;
    return state;
}

// After a worker died: the output it was writing goes, but a file the worker never touched
// (one that was there, unchanged and not empty, before the run) stays.
void RemoveOutputOfDeadWorker(const std::string& path, const FileState& before) {
    FileState now = StateOf(path);
    if (!now.Exists || !S_ISREG(now.Info.st_mode))
        return;
    bool untouched = before.Exists && now.Info.st_ino == before.Info.st_ino &&
                     now.Info.st_size == before.Info.st_size &&
                     now.Info.st_mtim.tv_sec == before.Info.st_mtim.tv_sec &&
                     now.Info.st_mtim.tv_nsec == before.Info.st_mtim.tv_nsec;
    if (!untouched || now.Info.st_size == 0)
        unlink(path.c_str());
}

} // namespace

void TFFmpeg::ForwardControls(int socket, bool& stopSent) {
    if (stopSent)
        return;
    if (StopRequested) {
        WriteAll(socket, ControlText(CONTROL_STOP));
        stopSent = true;
        return;
    }
    if (!Paused())
        return;
    // The worker holds at its safe point while this thread holds here: no report is raised
    // until the run is resumed or stopped.
    WriteAll(socket, ControlText(CONTROL_PAUSE));
    PausePoint();
    stopSent = StopRequested;
    WriteAll(socket, ControlText(stopSent ? CONTROL_STOP : CONTROL_RESUME));
}

void TFFmpeg::HandleReport(const TWorkerReport& report, bool& ended, std::string& lastLine) {
    switch (report.Kind) {
    case TWorkerReport::Log:
        if (!report.Text.empty())
            lastLine = report.Text;
        Log(report.Level, report.Text);
        break;
    case TWorkerReport::Progress:
        if (OnProgress)
            OnProgress(*this, report.FrameNumber, report.Fps, report.CurrentDurationMs,
                       report.Quality, report.BitRate, report.CurrentSize, report.TotalDurationMs);
        break;
    case TWorkerReport::End:
        ended = true;
        Finished = report.Finished;
        Failed = report.Failed;
        ErrorMessage = report.Text;
        break;
    }
}

TWorkerJob TWorkerRunSettings::Job() const {
    TWorkerJob job;
    job.LibraryDirectory = LibraryDirectory;
    job.VersionedNames = VersionedNames;
    job.LogLevel = LogLevel;
    job.ProgressIntervalMs = ProgressIntervalMs;
    job.ConcurrentRuns = ConcurrentRuns;
    return job;
}

void TFFmpeg::RunInWorker() {
    TWorkerJob job = WorkerSettings.Job();
    job.InputFileName = InputFileName;
    job.HasInputRecord = HasInputRecord;
    job.Input = InputOptions;
    // The worker opens the input with the demuxer set-up found rather than probing again.
    if (job.Input.FileFormat.empty() && !ProbedFormat.empty()) {
        job.HasInputRecord = true;
        job.Input.FileFormat = ProbedFormat;
    }
    if (KnownInputFile == InputFileName)
        job.KnownInputView = KnownInputView;
    job.OutputFileName = OutputFileName;
    job.OutputFormat = OutputFormatName;
    job.OutputDescriptor = OutputDescriptor >= 0 ? WORKER_OUTPUT_DESCRIPTOR : -1;
    job.HasOutputRecord = HasOutputRecord;
    job.Output = OutputOptions;

    FileState before = StateOf(OutputFileName);
    TWorkerProcess worker;
    std::string error;
    if (!worker.Start(WorkerProgram, error, OutputDescriptor, Workers.get()))
        throw engine::FFMpegException(error);
    // A worker that dies at once shows as the end of its reports below.
    WriteAll(worker.Socket(), JobText(job));

    TLineReader reader;
    bool ended = false;
    bool stopSent = false;
    bool unreadable = false;
    bool hung = false;
    std::string lastLine;
    std::chrono::steady_clock::time_point stopDeadline;
    pollfd watch{worker.Socket(), POLLIN, 0};
    while (!ended) {
        const bool stopWasSent = stopSent;
        ForwardControls(worker.Socket(), stopSent);
        if (stopSent && !stopWasSent)
            stopDeadline = std::chrono::steady_clock::now() + STOP_GRACE;
        if (stopSent && std::chrono::steady_clock::now() >= stopDeadline) {
            hung = true;
            break;
        }
        int ready = poll(&watch, 1, CONTROL_POLL_MS);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        if (!reader.Fill(worker.Socket()))
            break;
        std::string line;
        TWorkerReport report;
        while (!ended && reader.Next(line)) {
            if (ReadReport(line, report)) {
                HandleReport(report, ended, lastLine);
            } else {
                unreadable = true;
                Log(1, "The worker sent a line that cannot be read: " + Escape(line));
            }
        }
    }
    // Its end report is the last the worker says of the task: a pre-loaded worker is free for
    // the next one from here, unless it said something that cannot be read.
    if (ended && !unreadable) {
        worker.Release();
        return;
    }
    const int status = worker.End();
    if (ended)
        return;
    // A work file is the end step's to remove; an output written by name goes here.
    if (OutputDescriptor < 0)
        RemoveOutputOfDeadWorker(OutputFileName, before);
    if (hung) {
        // Asked to stop, it hung instead: the run ends as a stopped one.
        Log(0, "The worker did not stop when asked and was ended");
        Finished = false;
        Failed = false;
        return;
    }
    throw engine::FFMpegException(UnexpectedEndMessage(status, lastLine));
}

} // namespace mobivert::converter
