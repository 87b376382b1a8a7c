#pragma once
// What the converter and a worker process say to each other over their socket, one line per
// message. The converter sends the job (the task's file names and option records, then "end")
// followed by control lines ("pause", "resume", "stop"); the worker sends log lines, progress
// and, last, its end report.

#include "converter/OptionRecords.h"

#include <cstdint>
#include <string>

namespace mobivert::converter {

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
};

// The job as lines, the last one "end".
std::string JobText(const TWorkerJob& job);
// Reads one line of a job; false for a line that is not part of one. done is set by "end".
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

// Writes all of text, retrying after interruptions; false when the peer is gone. A closed peer
// never raises SIGPIPE.
bool SendAll(int fd, const std::string& text);

} // namespace mobivert::converter
