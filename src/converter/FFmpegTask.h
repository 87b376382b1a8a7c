#pragma once
// One conversion task: an engine session with the component's per-task data, and the ordered
// list of the component's tasks.

#include "converter/AVProbe.h"
#include "converter/OptionRecords.h"
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
};

class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(TFFmpegList&&) = default;
    TFFmpegList& operator=(TFFmpegList&&) = default;
    int Add(std::unique_ptr<TFFmpeg> task);
    void Delete(int index);
    void Clear();
    int Count() const { return static_cast<int>(tasks_.size()); }
    TFFmpeg* operator[](int index) const;
    TFFmpeg* FindByThreadID(pid_t threadId) const;

private:
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};

} // namespace mobivert::converter
