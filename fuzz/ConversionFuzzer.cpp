// Converts arbitrary bytes as a source file: the real opening, set-up and transcode of one
// session, reading the bytes from memory through a byte stream of our own, into a small 3GPP
// output (H.263 176x144 and AMR-NB, the kind of preset that met damaged files first). Refusals
// and failed runs are normal; crashes, aborts inside the libraries, memory errors, undefined
// behaviour and runs past their time budget are findings.

#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

using mobivert::engine::FFMpegException;
using mobivert::engine::TCustomFFmpeg;

namespace {

// The output options: a fixed size, rate and codecs; at most two seconds and 2 MB of output.
constexpr const char* kOutputOptions = "vcodec=h263\n"
                                       "s=176x144\n"
                                       "r=15\n"
                                       "b=120000\n"
                                       "acodec=libopencore_amrnb\n"
                                       "ac=1\n"
                                       "ar=8000\n"
                                       "ab=10200\n"
                                       "t=2\n"
                                       "fs=2000000\n";
// A run that takes longer than this is stopped from its progress report (and libFuzzer's own
// -timeout catches one that never reports).
constexpr auto kRunBudget = std::chrono::seconds(10);

std::string gOutput;

struct MemoryInput {
    const uint8_t* Data;
    size_t Size;
    size_t Position = 0;
};

int ReadMemory(void* opaque, uint8_t* buffer, int size) {
    auto* input = static_cast<MemoryInput*>(opaque);
    size_t left = input->Size - input->Position;
    if (left == 0)
        return AVERROR_EOF;
    size_t count = std::min(left, static_cast<size_t>(size));
    std::memcpy(buffer, input->Data + input->Position, count);
    input->Position += count;
    return static_cast<int>(count);
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
    auto* input = static_cast<MemoryInput*>(opaque);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return static_cast<int64_t>(input->Size);
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(input->Position);
        break;
    case SEEK_END:
        base = static_cast<int64_t>(input->Size);
        break;
    default:
        return AVERROR(EINVAL);
    }
    int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(input->Size))
        return AVERROR(EINVAL);
    input->Position = static_cast<size_t>(target);
    return target;
}

// The byte stream and its buffer, freed whatever the session did with them.
struct MemoryIO {
    explicit MemoryIO(MemoryInput& input) {
        constexpr int kBufferSize = 4096;
        auto* buffer = static_cast<unsigned char*>(av::av_malloc(kBufferSize));
        if (buffer)
            Context = av::avio_alloc_context(buffer, kBufferSize, 0, &input, ReadMemory, nullptr,
                                             SeekMemory);
        if (!Context)
            av::av_free(buffer);
    }
    ~MemoryIO() {
        if (Context)
            av::av_freep(&Context->buffer);
        av::avio_context_free(&Context);
    }
    AVIOContext* Context = nullptr;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!mobivert::binding::LoadAVLibs("", true)) {
        std::fprintf(stderr, "%s\n", mobivert::binding::AVLibsLastError().c_str());
        std::abort();
    }
    av::av_log_set_level(AV_LOG_QUIET);
    char folder[] = "/tmp/mobivert-fuzz-XXXXXX";
    if (!mkdtemp(folder))
        std::abort();
    gOutput = std::string(folder) + "/output.3gp";
    std::atexit([] { std::filesystem::remove_all(std::filesystem::path(gOutput).parent_path()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryInput input{data, size};
    MemoryIO io(input);
    if (!io.Context)
        return 0;
    {
        TCustomFFmpeg session;
        session.InitSession();
        // Below 0, as with a quiet converter: streams whose parameters were not all found are
        // still converted, which reaches the most code.
        session.Verbose = -1;
        auto start = std::chrono::steady_clock::now();
        session.OnLog = [](TCustomFFmpeg&, int, const std::string&) {};
        session.OnProgress = [start](TCustomFFmpeg& engine, int32_t, int32_t, int32_t, float, float,
                                     int64_t, int32_t) {
            if (std::chrono::steady_clock::now() - start > kRunBudget)
                engine.StopConvert();
        };
        session.ProgressInterval = 100000;
        try {
            session.InputIO = io.Context;
            if (session.OpenInputFile("memory-input")) {
                session.ApplyOptionText(kOutputOptions);
                if (session.OpenOutputFile(gOutput))
                    session.StartConvert(false, mobivert::engine::tpNormal);
            }
        } catch (const FFMpegException&) {
        }
        session.InputIO = nullptr;
        session.FreeSession();
    }
    std::error_code ec;
    std::filesystem::remove(gOutput, ec);
    // Option handlers may change the process-wide log level: keep the run quiet.
    av::av_log_set_level(AV_LOG_QUIET);
    return 0;
}
