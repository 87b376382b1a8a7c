// Building a task's output record from the preset, the stored choices and the source's own
// values, read through a probe of the real source file.

#include "app/shared/ConversionDriver.h"
#include "binding/AVLibs.h"
#include "support/TempDir.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

using namespace mobivert::app;
using mobivert::converter::TAVProbe;
using mobivert::converter::TOutputOptions;
using mobivert::test::Fixture;
using mobivert::test::TempDir;

class DriverOptionsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true)); }

    TOutputOptions Build(const std::string& source, const std::string& preset,
                         const TStoredChoices& choices = {}) {
        TAVProbe probe;
        EXPECT_TRUE(probe.Open(source)) << probe.LastError();
        return BuildOutputOptions(preset, probe, choices);
    }
};

TEST_F(DriverOptionsTest, WaveAudioFromVideoSourceHasNoVideoAndSkipsVideoOverrides) {
    TStoredChoices choices;
    choices.AspectChoice = 2;
    choices.FrameRateChoice = 1;
    choices.ResolutionDefault = false;
    choices.WidthText = "321"; // would be refused if it reached the engine
    choices.HeightText = "240";
    choices.VideoBitRateDefault = false;
    choices.VideoBitRateText = "800";
    TOutputOptions o = Build(Fixture("h264_aac.mp4"), "Wave Audio (*.wav)", choices);
    EXPECT_TRUE(o.DisableVideo);
    EXPECT_EQ(o.AudioCodec, "pcm_s16le");
    EXPECT_EQ(o.AudioChannels, 2);
    EXPECT_EQ(o.AudioSampleRate, 44100);
    EXPECT_EQ(o.FrameSize, "");
    EXPECT_EQ(o.FrameAspect, "");
    EXPECT_EQ(o.FrameRate, "");
    EXPECT_EQ(o.VideoBitRate, -1);
    EXPECT_EQ(o.VideoCodec, "");
}

TEST_F(DriverOptionsTest, WindowsMediaVideoAtDefaultsTakesTheSourcesValues) {
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(Fixture("h264_aac.mp4")));
    int sourceBitRate = probe.AudioInfo().BitRate;
    ASSERT_GT(sourceBitRate, 100000); // a 128 kbit/s AAC stream
    TOutputOptions o = BuildOutputOptions("Windows Media Video (*.wmv)", probe, {});
    EXPECT_FALSE(o.DisableVideo);
    EXPECT_EQ(o.VideoCodec, "wmv2");
    EXPECT_EQ(o.AudioCodec, "wmav2");
    EXPECT_EQ(o.AudioChannels, 2);
    EXPECT_EQ(o.AudioSampleRate, 44100);
    EXPECT_EQ(o.AudioBitRate, sourceBitRate);
    EXPECT_EQ(o.FrameSize, "640x480");
    EXPECT_EQ(o.VideoBitRate, 1500000);
    EXPECT_EQ(o.FrameRate, "");
    EXPECT_EQ(o.FrameAspect, "");
    // The source's values are derived: an encoder may take the nearest it can instead.
    EXPECT_TRUE(o.AudioChannelsDerived);
    EXPECT_TRUE(o.AudioSampleRateDerived);
    EXPECT_TRUE(o.AudioBitRateDerived);
    EXPECT_TRUE(o.FrameSizeDerived);
}

TEST_F(DriverOptionsTest, ChannelAndSampleRateChoicesReplaceThePresetsValues) {
    TStoredChoices stereo;
    stereo.AudioChannelChoice = 2;
    TOutputOptions o = Build(Fixture("h264_aac.mp4"), "3GPP 176*144 (*.3gp)", stereo);
    EXPECT_EQ(o.AudioChannels, 2);
    EXPECT_FALSE(o.AudioChannelsDerived); // chosen: asked for
    EXPECT_EQ(o.AudioSampleRate, 8000);
    EXPECT_TRUE(o.AudioSampleRateDerived); // the preset's
    EXPECT_EQ(o.FrameSize, "176x144");
    EXPECT_TRUE(o.FrameSizeDerived);
    EXPECT_EQ(o.VideoCodec, "h263");
    EXPECT_EQ(o.AudioCodec, "libopencore_amrnb");
    EXPECT_EQ(o.AudioBitRate, 10200);
    EXPECT_EQ(o.VideoBitRate, 120000);

    TStoredChoices mono22k;
    mono22k.AudioChannelChoice = 1;
    mono22k.SampleRateChoice = 3;
    o = Build(Fixture("h264_aac.mp4"), "MPEG-1 Video (*.mpg)", mono22k);
    EXPECT_EQ(o.AudioChannels, 1);
    EXPECT_EQ(o.AudioSampleRate, 22050);
    EXPECT_EQ(o.FrameRate, "22");
}

TEST_F(DriverOptionsTest, VideoChoicesApplyAsTyped) {
    TStoredChoices choices;
    choices.AspectChoice = 3;
    choices.FrameRateChoice = 4;
    choices.ResolutionDefault = false;
    choices.WidthText = " 320";
    choices.HeightText = "+240";
    choices.VideoBitRateDefault = false;
    choices.VideoBitRateText = "800";
    choices.AudioBitRateDefault = false;
    choices.AudioBitRateText = "96";
    TOutputOptions o = Build(Fixture("h264_aac.mp4"), "3GPP2 128*96 (*.3g2)", choices);
    EXPECT_EQ(o.FrameAspect, "37:20");
    EXPECT_EQ(o.FrameRate, "30");
    EXPECT_EQ(o.FrameSize, "320x240"); // replaces the preset's 128x96
    EXPECT_FALSE(o.FrameSizeDerived);
    EXPECT_EQ(o.VideoBitRate, 800000);
    EXPECT_EQ(o.AudioBitRate, 96000);
    EXPECT_FALSE(o.AudioBitRateDerived);
    EXPECT_EQ(o.AudioCodec, "aac");
}

TEST_F(DriverOptionsTest, BitRatesBeyond32BitsAreHeldAtTheLimitNotWrapped) {
    TStoredChoices choices;
    choices.VideoBitRateDefault = false;
    choices.VideoBitRateText = "2147483"; // fits once multiplied
    choices.AudioBitRateDefault = false;
    choices.AudioBitRateText = "2147484"; // would wrap to a negative rate
    TOutputOptions o = Build(Fixture("h264_aac.mp4"), "DivX Video (*.avi)", choices);
    EXPECT_EQ(o.VideoBitRate, 2147483000);
    EXPECT_EQ(o.AudioBitRate, INT_MAX);
}

TEST_F(DriverOptionsTest, SourceWithAnAudioExtensionGetsNoVideoEvenWithVideo) {
    // The Ogg file holds Theora video, but ".ogg" is an audio extension.
    TOutputOptions o = Build(Fixture("theora_vorbis.ogg"), "DivX Video (*.avi)");
    EXPECT_TRUE(o.DisableVideo);
    EXPECT_EQ(o.FrameSize, "");
    EXPECT_EQ(o.VideoBitRate, -1);
}

TEST_F(DriverOptionsTest, AudioOnlySourceWithOtherExtensionGetsTheProbesMissingSize) {
    TempDir dir;
    std::string copy = dir.File("tone.m4a");
    std::filesystem::copy_file(Fixture("tone.mp3"), copy);
    TOutputOptions o = Build(copy, "AVI Video (*.avi)");
    EXPECT_FALSE(o.DisableVideo);
    EXPECT_EQ(o.FrameSize, "-1x-1");
}

TEST_F(DriverOptionsTest, VideoOnlySourceLeavesAudioValuesUnset) {
    TOutputOptions o = Build(Fixture("h264.ts"), "Windows Media Video (*.wmv)");
    EXPECT_EQ(o.AudioChannels, -1);
    EXPECT_EQ(o.AudioSampleRate, -1);
    EXPECT_EQ(o.FrameSize, "320x240");
}

TEST_F(DriverOptionsTest, SourceValuesFillOnlyWhatThePresetLeavesOpen) {
    // Mono 8 kHz source: AAC keeps its 2 channels but takes the source's rate.
    TOutputOptions aac = Build(Fixture("mono8k.wav"), "AAC Advanced Audio Coding (*.aac)");
    EXPECT_EQ(aac.AudioChannels, 2);
    EXPECT_EQ(aac.AudioSampleRate, 8000);
    EXPECT_EQ(aac.AudioBitRate, 128000); // 8000 Hz x 16 bit x 1 channel
    TOutputOptions amr = Build(Fixture("surround51_48k.flac"), "AMR Audio (*.amr)");
    EXPECT_EQ(amr.AudioChannels, 1);
    EXPECT_EQ(amr.AudioSampleRate, 8000);
    EXPECT_EQ(amr.AudioBitRate, 10200);
}
