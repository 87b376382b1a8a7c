// Starting, running, pausing, stopping and ending a session's run.

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/CodecLock.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "engine/session/FFmpegThread.h"
#include "engine/transcode/TranscodeSteps.h"

namespace mobivert::engine {

TFFmpegThread* TCustomFFmpeg::StartConvert(bool asThread, TThreadPriority priority) {
    if (Running || Terminated)
        return nullptr;
    if (!HasOutput()) {
        FailBeforeStart("Must supply at least one output file");
        return nullptr;
    }
    if (!HasInput()) {
        FailBeforeStart("Must supply at least one input file");
        return nullptr;
    }
    Running = true;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    PauseRequested = false;
    if (!asThread) {
        RunTranscode();
        return nullptr;
    }
    auto* worker = new TFFmpegThread(*this, priority);
    WorkerThread = worker;
    return worker;
}

void TCustomFFmpeg::FailBeforeStart(const std::string& message) {
    FreeSession();
    Log(-1, message);
    Failed = true;
    ErrorMessage = message;
    DoTerminate();
}

void TCustomFFmpeg::RunTranscode() {
    Finished = false;
    try {
        Transcode();
    } catch (const std::exception& e) {
        Log(-1, e.what());
        Failed = true;
        ErrorMessage = e.what();
    }
    CloseOpenCodecs();
    Tables.reset();
    FreeSession();
    DoTerminate();
}

// Whatever a failed run left open is closed here, so a failure never leaks a codec.
void TCustomFFmpeg::CloseOpenCodecs() {
    for (OutputStream* ost : OpenEncoders) {
        // An encoder's own thread ends before its encoder closes.
        ost->Pipe.reset();
        if (ost->EncodingNeeded && ost->Enc) {
            av::av_freep(&ost->Enc->stats_in);
            std::lock_guard lock(CodecLock());
            av::avcodec_close(ost->Enc);
        }
    }
    OpenEncoders.clear();
    for (InputStream* ist : OpenDecoders) {
        ist->Groups.reset();
        if (ist->DecodingNeeded && ist->Dec) {
            std::lock_guard lock(CodecLock());
            av::avcodec_close(ist->Dec);
        }
    }
    OpenDecoders.clear();
}

void TCustomFFmpeg::StopConvert() {
    if (Running) {
        StopRequested = true;
        ResumeConvert();
    } else if (!Terminated) {
        TDoTerminateThread::Start(*this);
    }
}

void TCustomFFmpeg::PauseConvert() {
    if (!Running)
        return;
    std::lock_guard lock(PauseMutex);
    PauseRequested = true;
}

void TCustomFFmpeg::ResumeConvert() {
    std::lock_guard lock(PauseMutex);
    PauseRequested = false;
    PauseChanged.notify_all();
}

void TCustomFFmpeg::PausePoint() {
    if (!PauseRequested)
        return;
    std::unique_lock lock(PauseMutex);
    PauseChanged.wait(lock, [this] { return !PauseRequested || StopRequested; });
}

void TCustomFFmpeg::DoTerminate() {
    // One end report per run: a stop request that races with the run's own end (or a second
    // stop of a task that never ran) finds the report already taken.
    if (Terminated.exchange(true))
        return;
    Running = false;
    {
        std::lock_guard lock(PauseMutex);
        WorkerThread = nullptr;
    }
    if (OnTerminate)
        OnTerminate(*this);
}

// The run works on the session's own tables; a failure leaves them to RunTranscode, which
// closes the codecs they still hold open before releasing them.
void TCustomFFmpeg::Transcode() {
    Tables = std::make_unique<TranscodeTables>();
    Tables->CopyPacket = av::av_packet_alloc();
    if (!Tables->CopyPacket)
        throw FFMpegException("av_mallocz fail");
    SetupTranscode(*this, *Tables);
    RunTranscodeLoop(*this, *Tables);
    Tables.reset();
}

} // namespace mobivert::engine
