// Keeping audio in step with its timestamps ("async"), and how buffers reach the encoder: the
// timing decision at its boundaries, real conversions of inputs that start late, start early or
// drift, and single buffers handed to the path directly.

#include "engine/audio/AudioSync.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFmpeg.h"
#include "engine/transcode/TranscodeSteps.h"
#include "engine/transcode/TranscodeTables.h"
#include "support/AudioSamples.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

// ---- The timing decision

// A rate that is a power of two keeps the drift arithmetic exact.
constexpr int Rate = 32768;

AudioSyncState State(int method, double drift, bool isStart = false, int64_t size = 65536) {
    AudioSyncState s;
    s.Method = method;
    s.EncoderRate = Rate;
    s.DecoderRate = Rate;
    s.DecoderChannels = 2;
    s.SyncOpts = Rate;
    s.QueuedSamples = 128;
    // drift = InputTime x rate - SyncOpts - QueuedSamples
    s.InputTime = (drift + Rate + 128) / Rate;
    s.IsStart = isStart;
    s.Size = size;
    return s;
}

TEST(AudioSyncDecision, MethodZeroFollowsTheTimestampsAndNeverCorrects) {
    AudioSyncState s = State(0, 30000, true);
    AudioSyncDecision d = DecideAudioSync(s);
    EXPECT_EQ(d.Action, AudioSyncAction::None);
    EXPECT_EQ(d.SyncOpts, Rate + 30000) << "input position minus the queued samples";
    EXPECT_FALSE(d.ClearStart);
    // Halves round to even.
    s.EncoderRate = 2;
    s.QueuedSamples = 0;
    s.InputTime = 1.25;
    EXPECT_EQ(DecideAudioSync(s).SyncOpts, 2);
    s.InputTime = 1.75;
    EXPECT_EQ(DecideAudioSync(s).SyncOpts, 4);
}

TEST(AudioSyncDecision, DriftOfFiftySamplesOrLessIsNeverCorrected) {
    for (int method : {1, 100}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(DecideAudioSync(State(method, 50, true)).Action, AudioSyncAction::None);
        EXPECT_EQ(DecideAudioSync(State(method, -50, true)).Action, AudioSyncAction::None);
        AudioSyncDecision late = DecideAudioSync(State(method, 51, true));
        EXPECT_EQ(late.Action, AudioSyncAction::InsertSilence);
        EXPECT_EQ(late.Bytes, 51 * 4);
        AudioSyncDecision early = DecideAudioSync(State(method, -51, true));
        EXPECT_EQ(early.Action, AudioSyncAction::Discard);
        EXPECT_EQ(early.Bytes, 51 * 4);
    }
}

TEST(AudioSyncDecision, StartFlagOrThresholdChoosesCuttingOverStretching) {
    // The default threshold of 0.1 s is 3276.8 samples here.
    EXPECT_EQ(DecideAudioSync(State(1, 3276)).Action, AudioSyncAction::None);
    EXPECT_EQ(DecideAudioSync(State(1, 3276, true)).Action, AudioSyncAction::InsertSilence);
    EXPECT_EQ(DecideAudioSync(State(1, 3277)).Action, AudioSyncAction::InsertSilence);
    EXPECT_EQ(DecideAudioSync(State(100, 3276)).Action, AudioSyncAction::Stretch);
    // Stretching: the drift in whole samples, clipped to the method, with its sign.
    EXPECT_EQ(DecideAudioSync(State(100, 3276)).Compensation, 100);
    EXPECT_EQ(DecideAudioSync(State(100, -3000)).Compensation, -100);
    EXPECT_EQ(DecideAudioSync(State(100, -75.9)).Compensation, -75);
    EXPECT_EQ(DecideAudioSync(State(2, 60)).Compensation, 2);
    EXPECT_FALSE(DecideAudioSync(State(100, 3276)).ClearStart);
    EXPECT_EQ(DecideAudioSync(State(100, -3277)).Action, AudioSyncAction::Discard);
    AudioSyncState tight = State(1, 500);
    tight.DriftThreshold = 0.01;
    EXPECT_EQ(DecideAudioSync(tight).Action, AudioSyncAction::InsertSilence);
    EXPECT_TRUE(DecideAudioSync(tight).ClearStart);
}

TEST(AudioSyncDecision, CutsAndPaddingAreWholeInputSampleFrames) {
    // 6 channels at 8 kHz feeding a 48 kHz encoder: 600 output samples are 100 input ones.
    AudioSyncState s = State(1, 0, true, 12000);
    s.DecoderRate = 8000;
    s.DecoderChannels = 6;
    s.EncoderRate = 48000;
    s.SyncOpts = 0;
    s.QueuedSamples = 0;
    for (double drift : {600.0, 605.0, -605.0}) {
        s.InputTime = drift / 48000.0;
        AudioSyncDecision d = DecideAudioSync(s);
        EXPECT_EQ(d.Bytes, 100 * 12) << drift;
    }
    // A cut never reaches past the buffer; a buffer cut whole keeps the start flag.
    AudioSyncDecision whole = DecideAudioSync(State(1, -22050, true, 4096));
    EXPECT_NEAR(whole.Drift, -22050, 1e-9);
    EXPECT_EQ(whole.Action, AudioSyncAction::DropAll);
    EXPECT_EQ(whole.Bytes, 4096);
    EXPECT_FALSE(whole.ClearStart);
    AudioSyncDecision part = DecideAudioSync(State(1, -22050, true, 100000));
    EXPECT_EQ(part.Action, AudioSyncAction::Discard);
    EXPECT_EQ(part.Bytes, 88200);
    EXPECT_TRUE(part.ClearStart);
}

// ---- Conversions

class AudioSyncTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        source_ = DecodeAudio(Fixture("sine_stereo_44k.wav"));
        ASSERT_EQ(source_.Frames(), 88200);
    }

    DecodedAudio Convert(EngineRun& run, const std::string& inputOptions,
                         const std::string& outputOptions, const std::string& name = "out.wav",
                         const std::string& input = "") {
        const std::string output = dir.File(name);
        EXPECT_TRUE(
            run.AddInput(input.empty() ? Fixture("sine_stereo_44k.wav") : input, inputOptions))
            << run.Error();
        EXPECT_TRUE(run.SetOutput(output, outputOptions)) << run.Error();
        run.Run();
        EXPECT_FALSE(run.Failed()) << run.Error();
        return DecodeAudio(output);
    }

    // True when out holds `lead` frames of silence and then exactly the frames of in from
    // `skip` on.
    static testing::AssertionResult IsShiftedCopy(const DecodedAudio& out, const DecodedAudio& in,
                                                  int64_t lead, int64_t skip) {
        if (out.Channels != in.Channels)
            return testing::AssertionFailure() << "channels " << out.Channels;
        if (out.Frames() != lead + in.Frames() - skip)
            return testing::AssertionFailure()
                   << out.Frames() << " frames, expected " << lead + in.Frames() - skip;
        const int64_t firstSound = out.FirstAbove(0);
        if (lead > 0 && firstSound < lead)
            return testing::AssertionFailure() << "sound at frame " << firstSound;
        for (int64_t i = 0; i < in.Frames() - skip; ++i)
            for (int c = 0; c < in.Channels; ++c)
                if (out.At(lead + i, c) != in.At(skip + i, c))
                    return testing::AssertionFailure() << "differs at input frame " << skip + i;
        return testing::AssertionSuccess();
    }

    TempDir dir;
    DecodedAudio source_;
};

TEST_F(AudioSyncTest, LateStartGetsLeadingSilence) {
    EngineRun run;
    DecodedAudio out = Convert(run, "itsoffset=0.5", "acodec=pcm_s16le\nasync=1\nv=3");
    EXPECT_TRUE(IsShiftedCopy(out, source_, 22050, 0));
    EXPECT_TRUE(run.Logged("adding 22050 audio samples of silence"));

    EngineRun mp3;
    DecodedAudio coded = Convert(mp3, "itsoffset=0.5", "acodec=libmp3lame\nasync=1", "out.mp3");
    const int64_t firstSound = coded.FirstAbove(300);
    EXPECT_NEAR(static_cast<double>(firstSound), 22050.0, 1152.0);
    EXPECT_NEAR(coded.Seconds(), 2.5, (1152.0 + 1105.0) / 44100);
    EXPECT_TRUE(GstDecodeAudio(dir.File("out.mp3"), dir.Path().string()).Decoded);
}

TEST_F(AudioSyncTest, OutputAheadOfTheTimestampsIsTrimmed) {
    EngineRun run;
    DecodedAudio out = Convert(run, "itsoffset=-0.5", "acodec=pcm_s16le\nasync=1\nv=3");
    EXPECT_TRUE(IsShiftedCopy(out, source_, 0, 22050));
    EXPECT_TRUE(run.Logged("discarding"));
}

TEST_F(AudioSyncTest, MethodZeroNeverAddsOrRemovesASample) {
    for (const char* input : {"itsoffset=0.5", "itsoffset=-0.5", "itsscale=0:1.01"}) {
        SCOPED_TRACE(input);
        EngineRun run;
        DecodedAudio out = Convert(run, input, "acodec=pcm_s16le\nasync=0\nv=3");
        EXPECT_TRUE(IsShiftedCopy(out, source_, 0, 0));
        EXPECT_FALSE(run.Logged("silence"));
        EXPECT_FALSE(run.Logged("discarding"));
        EXPECT_FALSE(run.Logged("compensating"));
    }
}

TEST_F(AudioSyncTest, SteadyDriftIsStretchedAtMostAsyncSamplesPerCall) {
    // Timestamps 1% fast: 882 samples of drift over two seconds, inside the 4410 threshold.
    // Method 1 corrects once, as soon as the drift leaves the dead zone while the stream is at
    // its start, and then leaves it alone.
    EngineRun plain;
    DecodedAudio padded =
        Convert(plain, "itsscale=0:1.01", "acodec=pcm_s16le\nasync=1\nv=3", "plain.wav");
    int added = 0;
    int corrections = 0;
    for (const LoggedLine& logged : plain.Lines()) {
        int samples = 0;
        char tail[16] = {};
        if (std::sscanf(logged.Text.c_str(), "adding %d audio samples of %15s", &samples, tail) ==
                2 &&
            std::string(tail) == "silence") {
            added = samples;
            ++corrections;
        }
        EXPECT_EQ(logged.Text.find("compensating"), std::string::npos);
    }
    EXPECT_EQ(corrections, 1);
    EXPECT_GE(added, 50) << "the log shows the drift cut to whole samples";
    EXPECT_LT(added, 60);
    EXPECT_EQ(padded.Frames(), source_.Frames() + added);

    EngineRun run;
    DecodedAudio out =
        Convert(run, "itsscale=0:1.01", "acodec=pcm_s16le\nasync=100\nv=3", "stretched.wav");
    corrections = 0;
    int atLimit = 0;
    for (const LoggedLine& logged : run.Lines()) {
        double drift = 0;
        int compensation = 0;
        int rate = 0;
        if (std::sscanf(logged.Text.c_str(),
                        "compensating audio timestamp drift:%lf compensation:%d in:%d", &drift,
                        &compensation, &rate) != 3)
            continue;
        ++corrections;
        EXPECT_EQ(rate, 44100);
        EXPECT_EQ(logged.Level, 1);
        EXPECT_LE(std::abs(compensation), 100);
        EXPECT_GT(std::fabs(drift), 50.0);
        EXPECT_EQ(compensation, std::clamp(static_cast<int>(std::trunc(drift)), -100, 100));
        atLimit += compensation == 100;
    }
    EXPECT_GT(corrections, 10);
    EXPECT_GT(atLimit, 0) << "the drift outgrew the limit";
    EXPECT_GT(out.Frames(), source_.Frames()) << "the fast timestamps ask for more samples";
    EXPECT_LT(out.Frames(), source_.Frames() + 882);
    EXPECT_NEAR(out.Frequency(0), 1000.0, 10.0);
}

// An input in step stays untouched while a frame-based encoder queues samples between calls:
// the queue counts in samples of the encoder's own format (32-bit for this encoder).
TEST_F(AudioSyncTest, InputInStepIsLeftAloneWhileFramesQueue) {
    for (const char* options :
         {"acodec=libmp3lame\nasync=100\nv=3", "acodec=libmp3lame\nar=48000\nasync=100\nv=3"}) {
        SCOPED_TRACE(options);
        EngineRun run;
        DecodedAudio out = Convert(run, "", options, "steady.mp3");
        EXPECT_FALSE(run.Logged("compensating"));
        EXPECT_FALSE(run.Logged("silence"));
        EXPECT_FALSE(run.Logged("discarding"));
        EXPECT_NEAR(out.Seconds(), 2.0, (1152.0 + 1105.0) / out.SampleRate);
    }
}

// Late start with buffers far larger than any piece of silence the path hands on at once.
TEST_F(AudioSyncTest, LateStartBeforeHugeBuffersGetsAllItsSilenceFirst) {
    const std::string input = dir.File("huge.mka");
    ASSERT_EQ(
        WritePcmMatroska(input, 96000, 8, 6 * 96000, 5 * 96000,
                         [](int64_t i, int c) { return Sine(i, 96000, 200.0 + 50 * c, 0.1); }),
        "");
    DecodedAudio in = DecodeAudio(input);
    EngineRun run;
    DecodedAudio out = Convert(run, "itsoffset=0.5", "acodec=pcm_s16le\nasync=1", "out.wav", input);
    EXPECT_TRUE(IsShiftedCopy(out, in, 48000, 0));
}

// ---- Single buffers handed to the path

class AudioBufferTest : public mobivert::test::LibrariesTest {
protected:
    void TearDown() override {
        // The encoders and decoders stay with the session, which frees them.
        run.Session.OpenEncoders.clear();
        run.Session.OpenDecoders.clear();
        run.Session.Tables.reset();
    }

    // Opens the conversion and runs its set-up, but no loop.
    void Prepare(const std::string& input, const std::string& outputName,
                 const std::string& outputOptions) {
        ASSERT_TRUE(run.AddInput(Fixture(input))) << run.Error();
        ASSERT_TRUE(run.SetOutput(dir.File(outputName), outputOptions)) << run.Error();
        run.Session.Tables = std::make_unique<TranscodeTables>();
        run.Session.Tables->CopyPacket = av::av_packet_alloc();
        SetupTranscode(run.Session, *run.Session.Tables);
        ost = run.Session.Tables->OutputStreams.at(0).get();
        ist = run.Session.Tables->InputStreams.at(ost->SourceIndex).get();
    }

    // Hands `frames` frames of a tone to the path, at the input position `position`.
    void Feed(int frames, int64_t position, int channels, int rate) {
        std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                samples[static_cast<size_t>(i) * channels + c] = Sine(position + i, rate, 440, 0.3);
        ist->Pts = position * 1000000 / rate;
        run.Session.OutputAudioBuffer(run.Session.OutputFiles[0], *ost, *ist,
                                      reinterpret_cast<const uint8_t*>(samples.data()),
                                      static_cast<int>(samples.size() * 2));
    }

    int Queued() const { return ost->SampleFifo ? av::av_audio_fifo_size(ost->SampleFifo) : 0; }

    TempDir dir;
    EngineRun run;
    OutputStream* ost = nullptr;
    InputStream* ist = nullptr;
};

TEST_F(AudioBufferTest, PartialFrameWaitsForTheNextBuffer) {
    Prepare("sine_stereo_44k.wav", "out.mp2", "acodec=mp2");
    ASSERT_EQ(ost->Enc->frame_size, 1152);
    Feed(1000, 0, 2, 44100);
    EXPECT_EQ(run.Session.AudioSize, 0);
    EXPECT_EQ(Queued(), 1000);
    EXPECT_EQ(ost->SyncOpts, 0);

    Feed(1000, 1000, 2, 44100);
    EXPECT_GT(run.Session.AudioSize, 0) << "the second buffer completed a frame";
    EXPECT_EQ(Queued(), 848);
    EXPECT_EQ(ost->SyncOpts, 1152);

    const int64_t before = run.Session.AudioSize;
    EXPECT_GT(run.Session.FlushAudioFifo(run.Session.OutputFiles[0], *ost), 0);
    EXPECT_GT(run.Session.AudioSize, before);
    EXPECT_EQ(Queued(), 0);
    EXPECT_EQ(ost->SyncOpts, 2000);
}

TEST_F(AudioBufferTest, MonoToStereoAtEqualRatesResamplesFromTheFirstBuffer) {
    Prepare("mono8k.wav", "out.wav", "acodec=pcm_s16le\nac=2\nar=8000");
    EXPECT_EQ(ost->AudioResample, 0);
    EXPECT_EQ(ost->Resample, nullptr);
    Feed(1000, 0, 1, 8000);
    EXPECT_EQ(ost->AudioResample, 1);
    EXPECT_NE(ost->Resample, nullptr);
    // A sample-based encoder codes every buffer at once: 1000 stereo 16-bit samples.
    EXPECT_EQ(run.Session.AudioSize, 1000 * 2 * 2);
    EXPECT_EQ(ost->SyncOpts, 1000);
    EXPECT_EQ(Queued(), 0);
}

} // namespace
