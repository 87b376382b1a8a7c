#pragma once
// The three tables one transcode run works on: input files, input streams and output streams,
// with everything their records own. Freed together when the run ends or fails.

#include "engine/transcode/TranscodeRecords.h"

#include <memory>
#include <vector>

namespace mobivert::engine {

struct TranscodeTables {
    TranscodeTables() = default;
    TranscodeTables(const TranscodeTables&) = delete;
    TranscodeTables& operator=(const TranscodeTables&) = delete;
    ~TranscodeTables();

    std::vector<InputFile> Files;
    std::vector<std::unique_ptr<InputStream>> InputStreams;
    std::vector<std::unique_ptr<OutputStream>> OutputStreams;
    // Reused for every copied packet.
    AVPacket* CopyPacket = nullptr;
    // A reference to the packet a bitstream filter works on, written as it came when the
    // filter fails.
    AVPacket* FilterInput = nullptr;
    // The output is expected to end by ExpectedEnd (microseconds, AV_NOPTS_VALUE when not
    // known); a run whose output time passes OutputTimeLimit is runaway and fails.
    int64_t ExpectedEnd = AV_NOPTS_VALUE;
    int64_t OutputTimeLimit = INT64_MAX;
};

} // namespace mobivert::engine
