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
};

} // namespace mobivert::engine
