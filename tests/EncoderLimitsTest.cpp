// Encoder limits: every preset converts sources of every ordinary picture size and audio shape
// (what an encoder does not take of the derived values becomes the nearest value it takes), and
// values the user asked for that an encoder refuses refuse the output with what it takes.
// Outputs are read back with MediaInfo.

#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "binding/AVLibs.h"
#include "support/ConverterEvents.h"
#include "support/EngineRun.h"
#include "support/MediaInfo.h"
#include "support/TempDir.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using namespace mobivert::app;
using mobivert::converter::TAVConverter;
using namespace mobivert::test;
using namespace std::chrono_literals;

namespace {

struct Source {
    const char* File;
    int Width, Height; // 0 for audio only
    int Rate, Channels;
};

// 0.32 s each, made by GStreamer's muxers.
const Source Sources[] = {
    {"limits_1920x1080_96k_8ch.mkv", 1920, 1080, 96000, 8},
    {"limits_960x540_8k_1ch.webm", 960, 540, 8000, 1},
    {"limits_854x480_44k_6ch.mkv", 854, 480, 44100, 6},
    {"limits_720x576_32k_2ch.avi", 720, 576, 32000, 2},
    {"limits_352x288_48k_2ch.mp4", 352, 288, 48000, 2},
    {"limits_322x242_11k_7ch.mkv", 322, 242, 11025, 7},
    {"limits_176x144_8k_amr.3gp", 176, 144, 8000, 1}, // speech at 12.8 kbit/s
    {"limits_22k_3ch.wav", 0, 0, 22050, 3},
    {"limits_24k_5ch.ogg", 0, 0, 24000, 5},
};

// MediaInfo's fields of a file, as key=value pairs.
std::map<std::string, std::string> MediaInfo(const std::string& path) {
    return MediaInfoFields(
        path, "General;Container=%Format%\\nDuration=%Duration%\\n\nVideo;Width=%Width%"
              "\\nHeight=%Height%\\n\nAudio;Channels=%Channel(s)%\\nRate=%SamplingRate%\\n");
}

// What each encoder makes of a derived picture size, rate and channel count: the values these
// encoders are known to take.
std::string ExpectedSize(const std::string& encoder, const TPreset& preset, const Source& s) {
    if (*preset.FrameSize)
        return preset.FrameSize;
    auto round16 = [](int v) { return (v + 8) / 16 * 16; };
    // RealVideo 1 takes fewer than 4096 blocks of 16x16: 1920x1080 shrinks to that, same shape.
    if (encoder == "rv10" && s.Width == 1920)
        return "1360x768";
    if (encoder == "rv10")
        return std::to_string(round16(s.Width)) + "x" + std::to_string(round16(s.Height));
    return std::to_string(s.Width) + "x" + std::to_string(s.Height);
}

int ExpectedRate(const std::string& encoder, const TPreset& preset, const Source& s) {
    if (preset.AudioSampleRate > 0)
        return encoder == "libopencore_amrnb" ? 8000 : preset.AudioSampleRate;
    if (encoder == "wmav2" || encoder == "libmp3lame")
        return std::min(s.Rate, 48000);
    if (encoder == "ac3")
        return s.Rate >= 48000 ? 48000 : s.Rate == 44100 ? 44100 : 32000;
    return s.Rate;
}

int ExpectedChannels(const std::string& encoder, const TPreset& preset, const Source& s) {
    int wanted = preset.AudioChannels > 0 ? preset.AudioChannels : s.Channels;
    if (encoder == "libopencore_amrnb")
        return 1;
    if (encoder == "wmav2" || encoder == "libmp3lame" || encoder == "mp2")
        return wanted > 2 ? 2 : wanted;
    if (encoder == "ac3")
        return wanted > 6 ? 2 : wanted;
    return wanted;
}

void PrintTo(const Source& s, std::ostream* os) {
    *os << s.File;
}

class EncoderLimitsTest : public testing::TestWithParam<Source> {
protected:
    void SetUp() override {
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
        ASSERT_TRUE(driver.LoadLibraries(""));
        converter.SetLogLevel(mobivert::converter::llQuiet);
        events.Attach(converter, {.Logs = false, .Progress = false});
    }

    // Converts the source with the preset; the output's name, or empty with the reason in error.
    std::string Convert(const TPreset& preset, const std::string& source) {
        TBatchSettings settings;
        settings.PresetText = preset.Text;
        settings.OutputFolder = out.Path().string();
        std::vector<TBatchSource> sources(1);
        sources[0].Path = source;
        events.Clear();
        error = "not run";
        driver.LoadSources(sources, settings);
        if (driver.ConfigureOutputs(sources, settings) != 1) {
            error = sources[0].Error;
            return "";
        }
        converter.StartConvert(1);
        const bool ended = events.WaitBatchEnd(60s);
        for (const TerminateRecord& end : events.TaskEnds())
            error = end.Finished && !end.Exception ? "" : "Failed: " + end.Message;
        if (!ended)
            error = "timed out";
        converter.ClearTasks();
        return error.empty() ? sources[0].OutputPath : "";
    }

    TempDir out;
    TAVConverter converter;
    TConversionDriver driver{converter};
    ConverterEvents events;
    std::string error;
};

} // namespace

TEST_P(EncoderLimitsTest, EveryPresetConvertsTheSource) {
    const Source& s = GetParam();
    const std::string source = Fixture(s.File);
    for (const TPreset& preset : Presets()) {
        SCOPED_TRACE(preset.Text);
        const std::string output = Convert(preset, source);
        if (output.empty()) {
            ADD_FAILURE() << error;
            continue;
        }
        auto info = MediaInfo(output);
        EXPECT_FALSE(info["Container"].empty());
        if (!info["Duration"].empty()) {
            EXPECT_GE(std::stod(info["Duration"]), 100) << output;
        }

        const bool video = s.Width > 0 && !IsAudioExtension(PresetExtension(preset.Text));
        if (video) {
            std::string encoder = SuccessorCodecName(preset.VideoCodec);
            EXPECT_EQ(info["Width"] + "x" + info["Height"], ExpectedSize(encoder, preset, s));
        } else {
            EXPECT_EQ(info["Width"], "");
        }
        // Presets without an audio codec use the container's: AC-3 for RealMedia.
        std::string encoder = *preset.AudioCodec ? SuccessorCodecName(preset.AudioCodec) : "ac3";
        EXPECT_EQ(info["Rate"], std::to_string(ExpectedRate(encoder, preset, s)));
        EXPECT_EQ(info["Channels"], std::to_string(ExpectedChannels(encoder, preset, s)));
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, EncoderLimitsTest, testing::ValuesIn(Sources),
                         [](const testing::TestParamInfo<Source>& info) {
                             std::string name = info.param.File;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// A derived size the encoder does not take becomes the nearest it takes, logged, and the
// picture keeps its display aspect through the sample aspect.
TEST(EncoderLimitsSizeTest, DerivedSizesBecomeTheNearestTakenAndKeepTheirAspect) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    struct Case {
        const char* Codec;
        const char* Output;
        int Width, Height;
    };
    for (const Case& c : {Case{"rv10", "out.rm", 960, 544}, Case{"h263", "out.3gp", 704, 576},
                          Case{"mpeg4", "out.mp4", 960, 540}}) {
        SCOPED_TRACE(c.Codec);
        TempDir dir;
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("limits_960x540_8k_1ch.webm")));
        ASSERT_TRUE(run.SetOutput(dir.File(c.Output), std::string("an\nvcodec=") + c.Codec));
        AVCodecContext* enc = run.Session.OutputEncoders[0].front();
        EXPECT_EQ(enc->width, c.Width);
        EXPECT_EQ(enc->height, c.Height);
        double display = av_q2d(enc->sample_aspect_ratio) * enc->width / enc->height;
        if (enc->sample_aspect_ratio.num == 0)
            display = static_cast<double>(enc->width) / enc->height;
        EXPECT_NEAR(display, 16.0 / 9.0, 0.01);
        bool changed = c.Width != 960 || c.Height != 540;
        EXPECT_EQ(run.Logged(std::string("Video encoder ") + c.Codec +
                             " does not take 960x540: using " + std::to_string(c.Width) + "x" +
                             std::to_string(c.Height)),
                  changed);
    }
}
