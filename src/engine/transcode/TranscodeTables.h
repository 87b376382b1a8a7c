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
    // When an input's length is not known, ExpectedEnd and OutputTimeLimit follow how far the
    // inputs have really been read (both stay open until every input can be measured).
    bool BoundByReading = false;
    // When the last progress report was made (av_gettime microseconds).
    int64_t LastReport = 0;
};

} // namespace mobivert::engine
