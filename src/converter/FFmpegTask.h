#pragma once
// One conversion task: an engine session with the component's per-task data, and the ordered
// list of the component's tasks.

#include "converter/AVProbe.h"
#include "converter/OptionRecords.h"
#include "converter/OutputCheck.h"
#include "engine/session/FFmpeg.h"

#include <memory>
#include <sys/types.h>
#include <vector>

namespace mobivert::converter {

class TFFmpeg : public engine::TCustomFFmpeg {
public:
    ~TFFmpeg() override { ShutDown(); }

    int Index = -1;
    // Kernel id of the thread that runs the task; the library log routing finds tasks by it.
    std::atomic<pid_t> ThreadID{0};
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    TAVProbe Probe;

    // The output as asked (the name given to SetOutputFile) and, when the component publishes
    // outputs, the hidden work file the run writes instead.
    std::string OutputName;
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
};

class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(TFFmpegList&&) = default;
    TFFmpegList& operator=(TFFmpegList&&) = default;
    int Add(std::unique_ptr<TFFmpeg> task);
    void Delete(int index);
    // Takes the task out of the list (later tasks move down) without freeing it, so that the
    // caller can free it where no lock is held: freeing waits for the task's threads.
    std::unique_ptr<TFFmpeg> Take(int index);
    void Clear();
    int Count() const { return static_cast<int>(tasks_.size()); }
    TFFmpeg* operator[](int index) const;
    TFFmpeg* FindByThreadID(pid_t threadId) const;

private:
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};

} // namespace mobivert::converter
