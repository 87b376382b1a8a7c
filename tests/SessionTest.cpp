// The engine session: reset values, option holders, start refusals, the run's life cycle with its
// worker thread, pause, stop, the end report, and what freeing a session leaves on disk.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "engine/session/FFmpegThread.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <chrono>
#include <fstream>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace mobivert::engine;
using mobivert::test::Fixture;
using mobivert::test::TempDir;
using namespace std::chrono_literals;

namespace {

struct LogLine {
    int level;
    std::string text;
};

// Records the events of one session from whichever thread raises them.
struct EventRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LogLine> lines;
    int terminated = 0;
    pid_t terminateThread = 0;

    void Attach(TCustomFFmpeg& session) {
        session.OnLog = [this](TCustomFFmpeg&, int level, const std::string& text) {
            std::lock_guard lock(mutex);
            lines.push_back({level, text});
        };
        session.OnTerminate = [this](TCustomFFmpeg&) {
            std::lock_guard lock(mutex);
            ++terminated;
            terminateThread = gettid();
            changed.notify_all();
        };
    }
    bool WaitTerminated(std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [this] { return terminated > 0; });
    }
};

// A run whose body is a loop of safe points, standing in for the packet loop until a stop.
class LoopingSession : public TCustomFFmpeg {
public:
    std::atomic<int> Iterations{0};
    std::atomic<bool> IgnoreStopFor500ms{false};

protected:
    void Transcode() override {
        auto started = std::chrono::steady_clock::now();
        while (true) {
            PausePoint();
            bool mayStop =
                !IgnoreStopFor500ms || std::chrono::steady_clock::now() - started > 500ms;
            if (StopRequested && mayStop)
                break;
            ++Iterations;
            std::this_thread::sleep_for(2ms);
        }
    }
};

class SessionTest : public mobivert::test::LibrariesTest {
protected:
    // Gives the session an opened input and an output whose file is created, as the input and
    // output openers would.
    void AddInput(TCustomFFmpeg& session) {
        AVFormatContext* input = nullptr;
        ASSERT_EQ(av::avformat_open_input(&input, Fixture("mono8k.wav").c_str(), nullptr, nullptr),
                  0);
        session.InputFiles[session.InputFileCount++] = input;
    }
    void AddOutput(TCustomFFmpeg& session, const std::string& path) {
        AVFormatContext* output = nullptr;
        ASSERT_GE(av::avformat_alloc_output_context2(&output, nullptr, nullptr, path.c_str()), 0);
        ASSERT_GE(av::avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
        session.OutputFiles[session.OutputFileCount++] = output;
    }

    TempDir dir;
};

TEST_F(SessionTest, ResetValues) {
    TCustomFFmpeg session;
    session.AudioChannels = 6;
    session.VideoSyncMethod = 1;
    session.PadColor = {1, 2, 3};
    session.MaxFrames[3] = 5;
    session.Failed = true;
    session.ResetOptions();
    EXPECT_EQ(session.AudioChannels, 2);
    EXPECT_EQ(session.AudioSampleRate, 44100);
    EXPECT_EQ(session.VideoSyncMethod, -1);
    EXPECT_EQ(session.AudioSyncMethod, 0);
    EXPECT_EQ(session.LoopOutput, -1);
    EXPECT_EQ(session.TopFieldFirst, -1);
    EXPECT_EQ(session.IntraDcPrecision, 8);
    EXPECT_EQ(session.AudioVolume, 256);
    EXPECT_EQ(session.PadColor, (std::array<int32_t, 3>{16, 128, 128}));
    EXPECT_EQ(session.RecordingTime, std::numeric_limits<int64_t>::max());
    for (int32_t limit : session.MaxFrames)
        EXPECT_EQ(limit, 2147483647);
    EXPECT_FLOAT_EQ(session.AudioQScale, -99999.0f);
    EXPECT_FLOAT_EQ(session.AudioDriftThreshold, 0.1f);
    EXPECT_FLOAT_EQ(session.DtsDeltaThreshold, 10.0f);
    EXPECT_FLOAT_EQ(session.MuxPreload, 0.5f);
    EXPECT_FLOAT_EQ(session.MuxMaxDelay, 0.7f);
    EXPECT_EQ(session.SwsFlags, 4);
    EXPECT_EQ(session.HookRgbFormat, 3);
    EXPECT_EQ(session.FramePixFmt, -1);
    EXPECT_EQ(session.AudioSampleFmt, -1);
    EXPECT_EQ(session.Verbose, 1);
    EXPECT_EQ(session.TotalOutputDuration, -1);
    EXPECT_EQ(session.ProgressInterval, 500000);
    EXPECT_FALSE(session.Failed);
    EXPECT_EQ(session.InputFilterName, "ffmpeg_input");
    EXPECT_EQ(session.OutputFilterName, "ffmpeg_output");
}

TEST_F(SessionTest, InitSessionAllocatesOptionHoldersPerMediaType) {
    TCustomFFmpeg session;
    session.InitSession();
    for (int type = 0; type < MEDIA_TYPE_COUNT; ++type) {
        ASSERT_NE(session.CodecOptContexts[type], nullptr);
        EXPECT_EQ(session.CodecOptContexts[type]->codec_type, type);
    }
    EXPECT_NE(session.FormatOptContext, nullptr);
    EXPECT_NE(session.ScalerOptContext, nullptr);
    session.FreeSession();
    EXPECT_EQ(session.CodecOptContexts[0], nullptr);
    EXPECT_EQ(session.FormatOptContext, nullptr);
    EXPECT_EQ(session.ScalerOptContext, nullptr);
}

TEST_F(SessionTest, StartWithoutOutputFailsOnceWithoutStarting) {
    TCustomFFmpeg session;
    session.InitSession();
    EventRecorder events;
    events.Attach(session);
    EXPECT_EQ(session.StartConvert(true, tpNormal), nullptr);
    ASSERT_EQ(events.lines.size(), 1u);
    EXPECT_EQ(events.lines[0].level, -1);
    EXPECT_EQ(events.lines[0].text, "Must supply at least one output file");
    EXPECT_TRUE(session.Failed);
    EXPECT_EQ(session.ErrorMessage, "Must supply at least one output file");
    EXPECT_EQ(events.terminated, 1);
    EXPECT_EQ(events.terminateThread, gettid());
    EXPECT_FALSE(session.Running);
    EXPECT_TRUE(session.Terminated);

    // A terminated session refuses a second start and reports nothing more.
    EXPECT_EQ(session.StartConvert(true, tpNormal), nullptr);
    EXPECT_EQ(events.terminated, 1);
    EXPECT_EQ(events.lines.size(), 1u);
}

TEST_F(SessionTest, StartWithOutputButNoInputNamesTheInput) {
    TCustomFFmpeg session;
    session.InitSession();
    std::string out = dir.File("out.wav");
    AddOutput(session, out);
    EventRecorder events;
    events.Attach(session);
    EXPECT_EQ(session.StartConvert(false, tpNormal), nullptr);
    EXPECT_EQ(session.ErrorMessage, "Must supply at least one input file");
    EXPECT_EQ(events.terminated, 1);
    // The failed start freed the session: the output created for it stays empty and is gone.
    EXPECT_EQ(session.OutputFileCount, 0);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(SessionTest, ThreadedRunStopsAndReportsItsEndOnTheWorker) {
    LoopingSession session;
    session.InitSession();
    AddInput(session);
    AddOutput(session, dir.File("out.wav"));
    EventRecorder events;
    events.Attach(session);

    TFFmpegThread* worker = session.StartConvert(true, tpLower);
    ASSERT_NE(worker, nullptr);
    EXPECT_NE(worker->ThreadID(), 0);
    EXPECT_NE(worker->ThreadID(), gettid());
    pid_t workerId = worker->ThreadID();
    EXPECT_TRUE(session.Running);
    // A second start while running is refused.
    EXPECT_EQ(session.StartConvert(true, tpNormal), nullptr);
    worker->Resume();
    while (session.Iterations < 5)
        std::this_thread::sleep_for(1ms);
    session.StopConvert();
    ASSERT_TRUE(events.WaitTerminated());
    EXPECT_EQ(events.terminated, 1);
    EXPECT_EQ(events.terminateThread, workerId);
    EXPECT_FALSE(session.Failed);
    EXPECT_TRUE(session.Terminated);
    EXPECT_EQ(session.InputFileCount, 0);
}

TEST_F(SessionTest, PauseHoldsTheRunAndStopWakesIt) {
    LoopingSession session;
    session.InitSession();
    AddInput(session);
    AddOutput(session, dir.File("out.wav"));
    EventRecorder events;
    events.Attach(session);
    TFFmpegThread* worker = session.StartConvert(true, tpNormal);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    while (session.Iterations < 3)
        std::this_thread::sleep_for(1ms);

    session.PauseConvert();
    std::this_thread::sleep_for(50ms); // lets the worker reach its safe point
    int held = session.Iterations;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(session.Iterations, held);

    session.ResumeConvert();
    while (session.Iterations < held + 3)
        std::this_thread::sleep_for(1ms);

    session.PauseConvert();
    std::this_thread::sleep_for(50ms);
    session.StopConvert();
    ASSERT_TRUE(events.WaitTerminated());
    EXPECT_EQ(events.terminated, 1);
}

TEST_F(SessionTest, StopBeforeStartReportsTheEndFromAnotherThread) {
    TCustomFFmpeg session;
    session.InitSession();
    EventRecorder events;
    events.Attach(session);
    session.StopConvert();
    ASSERT_TRUE(events.WaitTerminated());
    EXPECT_EQ(events.terminated, 1);
    EXPECT_NE(events.terminateThread, gettid());
    EXPECT_TRUE(session.Terminated);
}

TEST_F(SessionTest, FailureInsideTheRunIsReportedAndClosesOpenCodecs) {
    class FailingSession : public TCustomFFmpeg {
    public:
        AVCodecContext* Encoder = nullptr;
        OutputStream Stream;

    protected:
        void Transcode() override {
            const AVCodec* codec = av::avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
            Encoder = av::avcodec_alloc_context3(codec);
            Encoder->sample_rate = 8000;
            Encoder->sample_fmt = AV_SAMPLE_FMT_S16;
            av::av_channel_layout_default(&Encoder->ch_layout, 1);
            if (av::avcodec_open2(Encoder, codec, nullptr) < 0)
                throw FFMpegException("could not open the test encoder");
            Stream.Enc = Encoder;
            Stream.EncodingNeeded = 1;
            OpenEncoders.push_front(&Stream);
            throw FFMpegException("Video encoding failed");
        }
    } session;
    session.InitSession();
    AddInput(session);
    AddOutput(session, dir.File("out.wav"));
    EventRecorder events;
    events.Attach(session);
    EXPECT_EQ(session.StartConvert(false, tpNormal), nullptr);
    EXPECT_TRUE(session.Failed);
    EXPECT_EQ(session.ErrorMessage, "Video encoding failed");
    ASSERT_EQ(events.lines.size(), 1u);
    EXPECT_EQ(events.lines[0].level, -1);
    EXPECT_EQ(events.lines[0].text, "Video encoding failed");
    EXPECT_EQ(events.terminated, 1);
    ASSERT_NE(session.Encoder, nullptr);
    EXPECT_EQ(av::avcodec_is_open(session.Encoder), 0);
    EXPECT_TRUE(session.OpenEncoders.empty());
    av::avcodec_free_context(&session.Encoder);
}

TEST_F(SessionTest, DestructorStopsARunningWorkerWithinAboutASecond) {
    auto session = std::make_unique<LoopingSession>();
    session->InitSession();
    AddInput(*session);
    AddOutput(*session, dir.File("out.wav"));
    session->IgnoreStopFor500ms = true;
    TFFmpegThread* worker = session->StartConvert(true, tpNormal);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    while (session->Iterations < 2)
        std::this_thread::sleep_for(1ms);
    auto started = std::chrono::steady_clock::now();
    session.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
}

TEST_F(SessionTest, DestructorRunsAWorkerThatWasNeverResumedToItsEnd) {
    auto session = std::make_unique<LoopingSession>();
    session->InitSession();
    AddInput(*session);
    AddOutput(*session, dir.File("out.wav"));
    bool terminated = false;
    session->OnTerminate = [&](TCustomFFmpeg&) { terminated = true; };
    ASSERT_NE(session->StartConvert(true, tpNormal), nullptr);
    session.reset();
    EXPECT_TRUE(terminated);
}

TEST_F(SessionTest, SessionMayBeDestroyedFromItsOwnEndReport) {
    auto* session = new LoopingSession();
    session->InitSession();
    AddInput(*session);
    AddOutput(*session, dir.File("out.wav"));
    std::promise<void> done;
    session->OnTerminate = [&done](TCustomFFmpeg& engine) {
        // The handler's own captures go with the session: keep what is needed on the stack.
        std::promise<void>* finished = &done;
        delete &engine;
        finished->set_value();
    };
    TFFmpegThread* worker = session->StartConvert(true, tpNormal);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    session->StopConvert();
    EXPECT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
}

TEST_F(SessionTest, FreeSessionDeletesEmptyOutputsAndKeepsPartialOnes) {
    TCustomFFmpeg session;
    session.InitSession();
    std::string empty = dir.File("empty.wav");
    std::string partial = dir.File("partial.wav");
    AddOutput(session, empty);
    AddOutput(session, partial);
    av::avio_write(session.OutputFiles[1]->pb, reinterpret_cast<const unsigned char*>("RIFF"), 4);
    session.FreeSession();
    EXPECT_FALSE(std::filesystem::exists(empty));
    ASSERT_TRUE(std::filesystem::exists(partial));
    EXPECT_EQ(std::filesystem::file_size(partial), 4u);
    EXPECT_EQ(session.OutputFileCount, 0);
}

} // namespace
