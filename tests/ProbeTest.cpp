// The media probe: opening with and without a forced format, counts and first indexes, the stream
// records and their preset values, the log lines of refused look-ups, attaching to a session's
// input, and the library checks and loading.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "converter/AVProbe.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

using mobivert::converter::AudioStreamInfo;
using mobivert::converter::EProbeLibraryError;
using mobivert::converter::TAVProbe;
using mobivert::converter::VideoStreamInfo;
using mobivert::engine::TCustomFFmpeg;
using mobivert::test::Fixture;
using mobivert::test::TempDir;

namespace {

struct LogLine {
    int level;
    std::string text;
};

std::mutex logMutex;
std::vector<LogLine> logLines;

void CaptureLog(void*, int level, const char* format, va_list args) {
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    std::lock_guard lock(logMutex);
    logLines.push_back({level, text});
}

class ProbeTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        {
            std::lock_guard lock(logMutex);
            logLines.clear();
        }
        av::av_log_set_callback(CaptureLog);
    }
    void TearDown() override {
        if (av::av_log_set_callback)
            av::av_log_set_callback(av::av_log_default_callback);
    }

    // True when exactly this text was logged at this level.
    static bool Logged(int level, const std::string& text) {
        std::lock_guard lock(logMutex);
        for (const LogLine& line : logLines)
            if (line.level == level && line.text == text)
                return true;
        return false;
    }

    TAVProbe probe;
};

TEST_F(ProbeTest, EmptyProbeHasNoCountsAndLogsThatNoFileIsLoaded) {
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.AudioStreamCount(), -1);
    EXPECT_EQ(probe.FirstVideoStreamIndex(), -1);
    EXPECT_EQ(probe.FileName(), "");
    AudioStreamInfo audio = probe.AudioInfo();
    EXPECT_TRUE(Logged(AV_LOG_INFO, "file not loaded.\n"));
    EXPECT_EQ(audio.Channels, -1);
    EXPECT_EQ(audio.SampleRate, -1);
    EXPECT_EQ(audio.StartTime, -1);
    EXPECT_STREQ(audio.CodecName, "");
}

TEST_F(ProbeTest, AudioOnlyFileHasNoVideo) {
    ASSERT_TRUE(probe.Open(Fixture("tone.mp3"))) << probe.LastError();
    EXPECT_EQ(probe.StreamCount(), 1);
    EXPECT_EQ(probe.ProgramCount(), 0);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(probe.FirstAudioStreamIndex(), 0);
    EXPECT_EQ(probe.FirstVideoStreamIndex(), -1);
    EXPECT_EQ(probe.FirstSubtitleStreamIndex(), -1);
    EXPECT_EQ(probe.FileName(), Fixture("tone.mp3"));
    EXPECT_EQ(probe.FormatName(), "");

    VideoStreamInfo video = probe.VideoInfo(-1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "no video stream.\n"));
    EXPECT_EQ(video.Width, -1);
    EXPECT_EQ(video.Height, -1);
    EXPECT_EQ(video.FrameRateNum, -1);
    EXPECT_TRUE(std::isnan(video.DisplayAspect)); // all bits set

    AudioStreamInfo audio = probe.AudioInfo(-1);
    EXPECT_STREQ(audio.CodecName, "mp3");
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_EQ(audio.SampleRate, 44100);
    EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_FLTP);
    EXPECT_NEAR(audio.BitRate, 128000, 2000);
    EXPECT_EQ(audio.StartTime, 0);
    EXPECT_EQ(audio.StartTimeScaled, 0);
    EXPECT_NEAR(static_cast<double>(audio.DurationScaled), 2063673.0, 1000.0);
}

TEST_F(ProbeTest, BadIndexesAndWrongKindsAreLoggedAndGiveThePreset) {
    ASSERT_TRUE(probe.Open(Fixture("h264_aac.mp4")));
    ASSERT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.AudioInfo(2).Channels, -1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream index #2 is invalid.\n"));
    EXPECT_EQ(probe.VideoInfo(-7).Width, -1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream index #-7 is invalid.\n"));
    EXPECT_EQ(probe.AudioInfo(0).SampleRate, -1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream #0 is not audio stream.\n"));
    EXPECT_EQ(probe.VideoInfo(1).Height, -1);
    EXPECT_TRUE(Logged(AV_LOG_ERROR, "stream #1 is not video stream.\n"));

    VideoStreamInfo video = probe.VideoInfo(0);
    EXPECT_EQ(video.Width, 640);
    EXPECT_EQ(video.Height, 480);
    EXPECT_NEAR(video.DisplayAspect, 4.0 / 3.0, 1e-5);
    EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video.FrameRateNum, 25);
    EXPECT_EQ(video.FrameRateDen, 1);
    EXPECT_STREQ(video.CodecName, "h264");
    EXPECT_EQ(video.DurationScaled, 2000000);
}

TEST_F(ProbeTest, StreamWithoutStartTimeKeepsTheScaledValueUnset) {
    ASSERT_TRUE(probe.Open(Fixture("mono8k.wav")));
    AudioStreamInfo audio = probe.AudioInfo();
    EXPECT_EQ(audio.StartTime, AV_NOPTS_VALUE);
    EXPECT_EQ(audio.StartTimeScaled, -1);
    EXPECT_EQ(audio.DurationScaled, 2000000);
    EXPECT_EQ(audio.Channels, 1);
    EXPECT_EQ(audio.SampleRate, 8000);
}

TEST_F(ProbeTest, DisplayAspectFollowsTheSampleAspectRatio) {
    ASSERT_TRUE(probe.Open(Fixture("sar_8_9.mp4")));
    EXPECT_NEAR(probe.VideoInfo().DisplayAspect, 640.0 * 8 / 9 / 480, 1e-5);
    // No sample aspect ratio in the stream's codec parameters.
    ASSERT_TRUE(probe.Open(Fixture("wmv2_wma.asf")));
    EXPECT_EQ(probe.VideoInfo().DisplayAspect, 0.0f);
    EXPECT_EQ(probe.VideoInfo().Width, 320);
}

TEST_F(ProbeTest, RefusedOpeningsSayWhyAndLeaveTheProbeEmpty) {
    TempDir dir;
    ASSERT_TRUE(probe.Open(Fixture("tone.mp3")));
    const std::string missing = dir.File("missing.mp4");
    EXPECT_FALSE(probe.Open(missing));
    EXPECT_EQ(probe.LastError(), missing + ": no such file or directory");
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.FormatContext(), nullptr);

    EXPECT_FALSE(probe.Open(Fixture("tone.mp3"), "no_such_format"));
    EXPECT_EQ(probe.LastError(), "Unknown input format: no_such_format");

    EXPECT_FALSE(probe.Open(Fixture("h264_aac.mp4"), "wav"));
    EXPECT_EQ(probe.LastError(), Fixture("h264_aac.mp4") + ": Error while parsing header");

    const std::string empty = dir.File("empty.mp4");
    std::ofstream(empty).close();
    EXPECT_FALSE(probe.Open(empty));
    EXPECT_EQ(probe.LastError(), empty + ": Unknown format");
    EXPECT_EQ(probe.StreamCount(), -1);
}

TEST_F(ProbeTest, ForcedFormatIsRemembered) {
    ASSERT_TRUE(probe.Open(Fixture("sine_stereo_44k.wav"), "wav")) << probe.LastError();
    EXPECT_EQ(probe.FormatName(), "wav");
    EXPECT_TRUE(probe.OwnsContext());
    probe.Close();
    EXPECT_EQ(probe.FormatName(), "");
    EXPECT_EQ(probe.AudioStreamCount(), -1);
}

TEST_F(ProbeTest, ClosingAnAttachedProbeLeavesTheSessionsInputOpen) {
    TCustomFFmpeg session;
    session.InitSession();
    session.Verbose = -1;
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    AVFormatContext* input = session.InputFiles[0];
    {
        TAVProbe attached;
        attached.Attach(input);
        EXPECT_FALSE(attached.OwnsContext());
        EXPECT_EQ(attached.VideoStreamCount(), 1);
        EXPECT_EQ(attached.AudioStreamCount(), 1);
        EXPECT_EQ(attached.FirstAudioStreamIndex(), 1);
        EXPECT_EQ(attached.FileName(), Fixture("h264_aac.mp4"));
        attached.Close();
        EXPECT_EQ(attached.FormatContext(), nullptr);
        attached.Attach(input); // destroyed while attached: closes nothing either
    }
    ASSERT_EQ(session.InputFiles[0], input);
    AVPacket* packet = av::av_packet_alloc();
    EXPECT_GE(av::av_read_frame(input, packet), 0); // still open and readable
    av::av_packet_free(&packet);
}

class ProbeLibraryTest : public ProbeTest {
protected:
    void SetUp() override { mobivert::binding::UnloadAVLibs(); }
    void TearDown() override {
        mobivert::binding::UnloadAVLibs();
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    }
};

TEST_F(ProbeLibraryTest, OpenAndAttachNeedTheLibraries) {
    try {
        probe.Open(Fixture("tone.mp3"));
        FAIL() << "opened without libraries";
    } catch (const EProbeLibraryError& e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
    std::string error;
    ASSERT_TRUE(mobivert::binding::AVCodecBinder().LoadLib("", true, error)) << error;
    try {
        probe.Attach(nullptr);
        FAIL() << "attached without libraries";
    } catch (const EProbeLibraryError& e) {
        EXPECT_STREQ(e.what(), "LibAVFormat not loaded.");
    }
}

TEST_F(ProbeLibraryTest, LoadsOnlyTheFourLibrariesItNeeds) {
    ASSERT_TRUE(probe.LoadLibs("", true)) << probe.LastError();
    EXPECT_TRUE(mobivert::binding::AVCodecBinder().IsBound());
    EXPECT_TRUE(mobivert::binding::AVFormatBinder().IsBound());
    EXPECT_TRUE(mobivert::binding::AVUtilBinder().IsBound());
    EXPECT_TRUE(mobivert::binding::SwScaleBinder().IsBound());
    EXPECT_FALSE(mobivert::binding::SwResampleBinder().IsBound());
    EXPECT_FALSE(mobivert::binding::AVFilterBinder().IsBound());
    ASSERT_TRUE(probe.Open(Fixture("h264_aac.mp4"))) << probe.LastError();
    EXPECT_EQ(probe.VideoInfo().Width, 640);
    probe.Close();
    EXPECT_TRUE(probe.LoadLibs("/nonexistent", true)); // already bound: nothing to load
}

TEST_F(ProbeLibraryTest, FailedLoadUnloadsTheFourAgain) {
    TempDir lib;
    std::filesystem::copy_file(MOBIVERT_STANDIN_LIBRARY,
                               lib.File(mobivert::binding::AVCodecBinder().FileName()));
    EXPECT_FALSE(probe.LoadLibs(lib.Path().string(), true));
    EXPECT_NE(probe.LastError().find("Load function"), std::string::npos) << probe.LastError();
    EXPECT_FALSE(mobivert::binding::AVCodecBinder().IsBound());
    EXPECT_FALSE(mobivert::binding::AVFormatBinder().IsBound());
    EXPECT_FALSE(mobivert::binding::AVUtilBinder().IsBound());
    EXPECT_FALSE(mobivert::binding::SwScaleBinder().IsBound());
    EXPECT_THROW(probe.Open(Fixture("tone.mp3")), EProbeLibraryError);
}

} // namespace
