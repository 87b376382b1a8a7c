#include "engine/session/FFmpeg.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/open/DescriptorOutput.h"
#include "engine/session/CodecLock.h"
#include "engine/session/FFmpegThread.h"
#include "engine/transcode/TranscodeTables.h"

#include <filesystem>

namespace mobivert::engine {

namespace {
std::atomic<int> globalVerbose{1};
}

int GlobalVerbose() {
    return globalVerbose.load();
}
void SetGlobalVerbose(int level) {
    globalVerbose = level;
}

TCustomFFmpeg::TCustomFFmpeg() = default;

TCustomFFmpeg::~TCustomFFmpeg() {
    ShutDown();
    FreeSession();
}

void TCustomFFmpeg::ShutDown() {
    StopRequested = true;
    ResumeConvert();
    {
        // The worker clears WorkerThread under the same lock before it frees itself.
        std::lock_guard lock(PauseMutex);
        if (TFFmpegThread* worker = WorkerThread.load())
            worker->Resume();
    }
    // The worker sees the stop request at its next safe point; it must have left the session
    // before the session's memory goes.
    Threads->WaitForOthers();
}

void TCustomFFmpeg::ResetOptions() {
    static_cast<TSessionOptions&>(*this) = TSessionOptions{};
    static_cast<TRunState&>(*this) = TRunState{};
    static_cast<THookSelection&>(*this) = THookSelection{};
    // The open files are FreeSession's to close; a reset forgets how many there were.
    InputFileCount = 0;
    OutputFileCount = 0;
}

void TCustomFFmpeg::InitSession() {
    if (!binding::AVLibsLoaded())
        return;
    FreeSession();
    ResetOptions();
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    PauseRequested = false;
    CreateOptionHolders();
}

void TCustomFFmpeg::CreateOptionHolders() {
    for (int type = 0; type < MEDIA_TYPE_COUNT; ++type) {
        CodecOptContexts[type] = av::avcodec_alloc_context3(nullptr);
        if (CodecOptContexts[type])
            CodecOptContexts[type]->codec_type = static_cast<AVMediaType>(type);
    }
    FormatOptContext = av::avformat_alloc_context();
    ScalerOptContext = av::sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                          SwsFlags, nullptr, nullptr, nullptr);
}

void TCustomFFmpeg::FreeSession() {
    if (!binding::AVLibsLoaded())
        return;
    FreeOptionHolders();
    FreeOutputFiles();
    FreeInputFiles();
    FreeOptionValues();
    ReleaseFrameHookState();
}

void TCustomFFmpeg::FreeOptionHolders() {
    for (AVCodecContext*& context : CodecOptContexts)
        av::avcodec_free_context(&context);
    av::avformat_free_context(FormatOptContext);
    FormatOptContext = nullptr;
    av::sws_freeContext(ScalerOptContext);
    ScalerOptContext = nullptr;
}

namespace {

// An output that never received a byte, or whose run wrote no media into it (a header alone
// plays nothing), is not left behind; a partial one is kept.
void RemoveIfEmpty(const char* url, bool noMedia) {
    if (!url || !*url)
        return;
    std::error_code ec;
    std::filesystem::path path(url);
    if (!std::filesystem::is_regular_file(path, ec))
        return;
    if (noMedia || (std::filesystem::file_size(path, ec) == 0 && !ec))
        std::filesystem::remove(path, ec);
}

// Frees every codec context of a table of decoders or encoders per file, and the table.
void FreeCodecContexts(TOnDemandTable<std::vector<AVCodecContext*>, MAX_FILES>& contexts) {
    if (contexts.Allocated())
        for (std::vector<AVCodecContext*>& perFile : contexts.Writable())
            for (AVCodecContext*& context : perFile)
                av::avcodec_free_context(&context);
    contexts.Release();
}

} // namespace

void TCustomFFmpeg::FreeOutputFiles() {
    for (int i = 0; i < OutputFileCount; ++i) {
        AVFormatContext* context = OutputFiles[i];
        if (context) {
            // A file written through the caller's descriptor is the caller's to keep or remove.
            const bool callers = WritesThroughDescriptor(context);
            if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE))
                CloseOutputIO(context);
            if (!callers)
                RemoveIfEmpty(context->url, OutputPacketCounts[i] == 0);
            av::avformat_free_context(context);
        }
        OutputFiles[i] = nullptr;
        OutputPacketCounts[i] = -1;
    }
    FreeCodecContexts(OutputEncoders);
    OutputStreamCopy.Release();
    BitstreamFilters.Release();
    OutputFileCount = 0;
}

void TCustomFFmpeg::FreeInputFiles() {
    for (int i = 0; i < InputFileCount; ++i) {
        if (InputFiles[i])
            av::avformat_close_input(&InputFiles[i]);
        InputFiles[i] = nullptr;
    }
    FreeCodecContexts(InputDecoders);
    // The guards were installed on the contexts closed above.
    InputReadGuards.Release();
    InputFileCount = 0;
}

void TCustomFFmpeg::FreeOptionValues() {
    IntraMatrix.clear();
    InterMatrix.clear();
    if (VStatsFile) {
        fclose(VStatsFile);
        VStatsFile = nullptr;
    }
    VStatsFileName.clear();
    CodecOptNames.clear();
    OptNameCount = 0;
    // The maps and time-stamp scales name streams of the files just released.
    StreamMaps.Release();
    StreamMapCount = 0;
    InputTsScales.Release();
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
    VideoStandard.clear();
    VideoRcOverride.reset();
    AudioLanguage.clear();
    SubtitleLanguage.clear();
    // The run's work buffers go with it: a finished task in a long batch keeps none.
    DecodeBuffer.clear();
    DecodeBuffer.shrink_to_fit();
    SubtitleOutBuffer.clear();
    SubtitleOutBuffer.shrink_to_fit();
    CodecOptNames.shrink_to_fit();
}

void TCustomFFmpeg::Log(int level, const std::string& text) {
    if (OnLog)
        OnLog(*this, level, text);
}

} // namespace mobivert::engine
