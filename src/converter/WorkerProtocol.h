#pragma once
// What the converter and a worker process say to each other over their socket, one line per
// message. The converter sends the job (the protocol line, the task's file names and option
// records, then "end") followed by control lines; the worker sends log lines, progress and,
// last, its end report.

#include "converter/LineText.h"
#include "converter/OptionRecords.h"

#include <cstdint>
#include <string>

namespace mobivert::converter {

// The first line of every job. A worker program of another build that speaks otherwise refuses
// the job instead of misreading it.
inline constexpr const char* PROTOCOL_LINE = "mobivert-worker protocol 1";

// The controls the converter sends while a task runs, each on a line of its own.
inline constexpr const char* CONTROL_PAUSE = "pause";
inline constexpr const char* CONTROL_RESUME = "resume";
inline constexpr const char* CONTROL_STOP = "stop";
std::string ControlText(const char* control);

// What a worker ends with when it cannot read the job it was given.
inline constexpr const char* MSG_JOB_UNREADABLE =
    "The worker program cannot read the job it was given; it may belong to another version of "
    "the program";

struct TWorkerJob {
    std::string LibraryDirectory;
    bool VersionedNames = true;
    int LogLevel = 2; // a TLogLevel ordinal
    int ProgressIntervalMs = 500;
    // Conversions the owner runs at once: automatic codec threads share the cores among them.
    int ConcurrentRuns = 1;
    std::string InputFileName;
    bool HasInputRecord = false;
    TInputOptions Input;
    // What the owner's full opening found in the input (an InputView), empty when unknown.
    std::string KnownInputView;
    std::string OutputFileName;
    std::string OutputFormat; // when the file name does not tell the container
    // When 0 or more, the worker writes the output through this inherited descriptor (a work
    // file the converter created) and never opens the output by its name.
    int OutputDescriptor = -1;
    bool HasOutputRecord = false;
    TOutputOptions Output;
    // Set by the job's first line, the protocol line.
    bool ProtocolSeen = false;
};

// The job as lines, the first one the protocol line, the last one "end".
std::string JobText(const TWorkerJob& job);
// Reads one line of a job; false for a line that is not part of one, and for a first line that
// is not the protocol line. done is set by "end".
bool ReadJobLine(TWorkerJob& job, const std::string& line, bool& done);

struct TWorkerReport {
    enum TKind { Log, Progress, End } Kind = Log;
    // Log: the engine level (-1 the failure that ended the run, 0 errors, 1 information, ...).
    int Level = 0;
    std::string Text; // Log: the line; End: the failure message
    int32_t FrameNumber = 0;
    int32_t Fps = 0;
    int32_t CurrentDurationMs = 0;
    float Quality = 0;
    float BitRate = 0;
    int64_t CurrentSize = 0;
    int32_t TotalDurationMs = -1;
    bool Finished = false;
    bool Failed = false;
};

std::string LogReportText(int level, const std::string& text);
std::string ProgressReportText(int32_t frameNumber, int32_t fps, int32_t currentDurationMs,
                               float quality, float bitRate, int64_t currentSize,
                               int32_t totalDurationMs);
std::string EndReportText(bool finished, bool failed, const std::string& message);
// False for a line that is no report.
bool ReadReport(const std::string& line, TWorkerReport& report);

// Splits what arrives on a descriptor into lines.
class TLineReader {
public:
    // Reads what is there (one read call); false at the end of the stream or on an error.
    bool Fill(int fd);
    // The next complete line without its line feed; false when none is complete yet.
    bool Next(std::string& line);

private:
    std::string buffer_;
};

} // namespace mobivert::converter
