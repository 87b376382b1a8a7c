#pragma once
// One conversion task: an engine session with the component's per-task data.
//
// A task is described by its file names and option records. Set-up opens its input and output
// to check them and then releases them ("parks" the task): a waiting task holds no open file,
// codec context or demuxer buffer. When its turn comes the run opens both again from the
// records, either in this process or in a worker process, and releases them when it ends.

#include "converter/AVProbe.h"
#include "converter/OptionRecords.h"
#include "converter/OutputCheck.h"
#include "converter/TaskList.h"
#include "converter/WorkFile.h"
#include "converter/WorkerPool.h"
#include "converter/WorkerProtocol.h"
#include "engine/session/FFmpeg.h"

#include <memory>
#include <sys/types.h>
#include <vector>

namespace mobivert::converter {

// The settings of the component that a task's worker job carries (the rest of the job is the
// task's own names and records), kept apart from the job so that a waiting task does not hold
// a whole job's records twice.
struct TWorkerRunSettings {
    std::string LibraryDirectory;
    bool VersionedNames = true;
    int LogLevel = 2; // a TLogLevel ordinal
    int ProgressIntervalMs = 500;
    int ConcurrentRuns = 1;

    // A job with these settings and nothing else.
    TWorkerJob Job() const;
};

class TFFmpeg : public engine::TCustomFFmpeg {
public:
    ~TFFmpeg() override;

    int Index = -1;
    // Kernel id of the thread that runs the task; the library log routing finds tasks by it.
    std::atomic<pid_t> ThreadID{0};
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    TAVProbe Probe;

    // The output as asked (the name given to SetOutputFile); whether the component publishes
    // it (OutputPublishing.h); and, while the task runs, the hidden work file the run writes
    // instead (its path in PartName, its descriptor in OutputDescriptor).
    std::string OutputName;
    bool PublishesOutput = false;
    TWorkFile Work;
    std::string PartName;
    // The start time the input was opened at, and what the output should hold.
    int64_t InputStartUs = 0;
    TOutputExpectation Expected;
    // Set by the end step, before the task's end is reported: what differs from what was asked
    // (empty when nothing does), the name the output has now (empty when none was kept) and
    // whether that is a cancelled run's partial output.
    std::string Warnings;
    std::string PublishedName;
    bool PartialOutput = false;

    // The file names given to AddInputFile and SetOutputFile, and whether records came with
    // them (without one nothing is applied).
    std::string InputFileName;
    bool HasInputRecord = false;
    std::string OutputFileName;
    bool HasOutputRecord = false;
    // Set when SetOutputFile accepted the output.
    bool OutputReady = false;
    // The container the output was checked with when its file name does not tell it (a hidden
    // work file); the run uses the same.
    std::string OutputFormatName;

    // A fresh session with the input record applied and the input opened; false with
    // SetupError set. Refusals of an option are raised as FFMpegException.
    bool OpenInputFromRecord();
    // The output record applied and the output created on an opened input; false with
    // SetupError set. Refusals of an option are raised as FFMpegException.
    bool OpenOutputFromRecord();
    // After a successful check of the output: its file is closed, and removed unless it
    // existed before the check or was written through a descriptor (whose owner removes it),
    // so no output exists before the task runs.
    void ForgetCheckedOutput(bool existedBefore);
    // Releases the opened input and output, codec contexts and option holders; the probe
    // keeps answering from what it read. Nothing when the task holds none.
    void Park();
    // True while the task holds an opened input for set-up or inspection.
    bool Resident() const { return resident_; }

    // How the next run goes: in the worker program when one is named (with the job's library,
    // level and interval settings; the file names and records are the task's own), otherwise
    // in this process.
    std::string WorkerProgram;
    TWorkerRunSettings WorkerSettings;
    // The demuxer the last opening of the input found (empty before one succeeded).
    std::string ProbedFormat;
    // The batch's pre-loaded workers, one of which runs the task when they can be had.
    std::shared_ptr<TWorkerPool> Workers;
    // A task run inside a worker for another converter: that converter's count of conversions
    // at once (0: this component's own).
    int32_t OwnerConcurrentRuns = 0;

protected:
    bool HasInput() const override;
    bool HasOutput() const override;
    void Transcode() override;

private:
    // One run of the transcode from the records: pass -1 is the only one; 0 the only one at
    // the output pass's video bit rate (a target size in one pass, coded again while it
    // misses); 1 and 2 are the passes of a two-pass run, whose statistics log is passLog
    // (none: the second pass codes without statistics).
    void RunPass(int pass, const std::string& passLog);
    bool OpenPassOutput(int pass, const std::string& passLog);
    // The first pass into no file, then the output, with their statistics in a folder of the
    // run's own that is removed after.
    void RunTwoPasses();
    // The output pass (0 or 2, as RunPass), coded again at a corrected video bit rate (a
    // bounded number of times) while the written size misses the record's target size
    // (SizeCorrection.h).
    void RunOutputPasses(int pass, const std::string& passLog);
    // The size of the output as written so far; -1 when it cannot be read.
    int64_t WrittenSize() const;
    // Runs the transcode in a worker process and turns its reports into this session's events
    // and end state; a worker that dies is raised as the run's failure (TaskInWorker.cpp).
    void RunInWorker();
    // Forwards pause, resume and stop to the worker; blocks while the run is paused.
    void ForwardControls(int socket, bool& stopSent);
    void HandleReport(const TWorkerReport& report, bool& ended, std::string& lastLine);

    bool resident_ = false;
    bool ran_ = false;
    // The output pass's video bit rate (the record's, or a corrected one) and the output
    // passes coded again so far.
    int32_t outputVideoBitRate_ = -1;
    int sizeCorrections_ = 0;
};

} // namespace mobivert::converter
