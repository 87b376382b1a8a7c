// Every preset converts real media end to end through the driver and the converter, and
// MediaInfo (GStreamer's discoverer where MediaInfo gives no duration) confirms the container,
// the codecs the preset names, the picture size, the channel count, the sample rate and a
// duration within 5% of the source's.

#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "binding/AVLibs.h"
#include "support/ConverterEvents.h"
#include "support/MediaInfo.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

using namespace mobivert::app;
using mobivert::converter::TAVConverter;
using namespace mobivert::test;
using namespace std::chrono_literals;

namespace {

// What MediaInfo reads from a file, as key=value pairs (empty for what it does not know).
std::map<std::string, std::string> MediaInfo(const std::string& path) {
    return MediaInfoFields(
        path, "General;Container=%Format%\\nContainerId=%CodecID%\\nDuration=%Duration%"
              "\\n\nVideo;VFormat=%Format%\\nVVersion=%Format_Version%\\nVCodecId="
              "%CodecID%\\nVLibrary=%Encoded_Library%\\nWidth=%Width%\\nHeight=%Height%"
              "\\n\nAudio;AFormat=%Format%\\nAVersion=%Format_Version%\\nAProfile="
              "%Format_Profile%\\nChannels=%Channel(s)%\\nRate=%SamplingRate%\\n");
}

// Seconds, from MediaInfo, else from GStreamer's discoverer; -1 when neither knows.
double DurationSeconds(const std::string& path) {
    std::string ms = MediaInfo(path)["Duration"];
    if (!ms.empty())
        return std::stod(ms) / 1000.0;
    std::string text = mobivert::test::Discover(path);
    size_t at = text.find("Duration: ");
    int h = 0, m = 0;
    double s = 0;
    if (at != std::string::npos &&
        std::sscanf(text.c_str() + at, "Duration: %d:%d:%lf", &h, &m, &s) == 3)
        return h * 3600 + m * 60 + s;
    return -1;
}

std::map<std::string, std::pair<std::string, std::string>> Containers() {
    // extension -> MediaInfo's format and the start of its brand or codec id
    return {{".3gp", {"MPEG-4", "3gp"}},     {".3g2", {"MPEG-4", "3g2"}},
            {".mov", {"MPEG-4", "qt"}},      {".mp4", {"MPEG-4", "isom"}},
            {".avi", {"AVI", ""}},           {".mpg", {"MPEG-PS", ""}},
            {".rm", {"RealMedia", ""}},      {".ra", {"RealMedia", ""}},
            {".wmv", {"Windows Media", ""}}, {".wma", {"Windows Media", ""}},
            {".mp3", {"MPEG Audio", ""}},    {".aac", {"ADTS", ""}},
            {".amr", {"AMR", ""}},           {".wav", {"Wave", ""}}};
}

bool FileContains(const std::string& path, const std::string& text) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return bytes.find(text) != std::string::npos;
}

void ExpectVideoCodec(const std::string& encoder, std::map<std::string, std::string>& info,
                      const std::string& path) {
    const std::string& format = info["VFormat"];
    if (encoder == "h263") {
        EXPECT_EQ(format, "H.263");
    } else if (encoder == "mpeg4") {
        EXPECT_EQ(format, "MPEG-4 Visual");
    } else if (encoder == "msmpeg4v2") {
        EXPECT_EQ(format, "MPEG-4 Visual");
        EXPECT_EQ(info["VCodecId"], "MP42");
    } else if (encoder == "libxvid") {
        // The XviD encoder tags its stream "xvid", which mediainfo names but does not parse:
        // read the stream back as MPEG-4 part 2 and find the encoder's signature in it.
        EXPECT_EQ(info["VCodecId"], "xvid");
        EXPECT_EQ(ReadFirstStream(path, AVMEDIA_TYPE_VIDEO).Codec, "mpeg4");
        EXPECT_TRUE(FileContains(path, "XviD")) << path;
    } else if (encoder == "mpeg1video") {
        EXPECT_EQ(format, "MPEG Video");
        EXPECT_EQ(info["VVersion"], "Version 1");
    } else if (encoder == "libx264") {
        EXPECT_EQ(format, "AVC");
        EXPECT_NE(info["VLibrary"].find("x264"), std::string::npos) << info["VLibrary"];
    } else if (encoder == "rv10") {
        EXPECT_EQ(format, "RealVideo 1");
    } else if (encoder == "wmv2") {
        EXPECT_EQ(format, "WMV2");
    } else {
        ADD_FAILURE() << "no check for video encoder " << encoder;
    }
}

void ExpectAudioCodec(const std::string& encoder, std::map<std::string, std::string>& info) {
    const std::string& format = info["AFormat"];
    if (encoder == "libopencore_amrnb") {
        EXPECT_EQ(format, "AMR");
    } else if (encoder == "aac") {
        EXPECT_EQ(format.substr(0, 3), "AAC");
    } else if (encoder == "libmp3lame" || encoder == "mp2") {
        EXPECT_EQ(format, "MPEG Audio");
        EXPECT_EQ(info["AProfile"], encoder == "mp2" ? "Layer 2" : "Layer 3");
    } else if (encoder == "pcm_s16le") {
        EXPECT_EQ(format, "PCM");
    } else if (encoder == "wmav2") {
        EXPECT_EQ(format, "WMA");
        EXPECT_EQ(info["AVersion"], "Version 2");
    } else if (!encoder.empty()) {
        ADD_FAILURE() << "no check for audio encoder " << encoder;
    }
}

struct PresetCase {
    int Preset;         // index into Presets()
    std::string Source; // fixture name
};

void PrintTo(const PresetCase& c, std::ostream* os) {
    *os << Presets()[c.Preset].Text << " from " << c.Source;
}

std::string CaseName(const ::testing::TestParamInfo<PresetCase>& info) {
    std::string name = std::to_string(info.param.Preset + 1) + "_" +
                       PresetName(Presets()[info.param.Preset].Text) + "_from_" + info.param.Source;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

std::vector<PresetCase> Cases() {
    std::vector<PresetCase> cases;
    for (int i = 0; i < static_cast<int>(Presets().size()); ++i) {
        cases.push_back({i, "h264_aac.mp4"});
        if (IsAudioExtension(PresetExtension(Presets()[i].Text)))
            cases.push_back({i, "tone.mp3"});
    }
    return cases;
}

class PresetConversionTest : public ::testing::TestWithParam<PresetCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
        ASSERT_TRUE(driver.LoadLibraries(""));
        converter.SetLogLevel(mobivert::converter::llQuiet);
        events.Attach(converter, {.Logs = false, .Progress = false});
    }

    TempDir out;
    TAVConverter converter;
    TConversionDriver driver{converter};
    ConverterEvents events;
};

} // namespace

TEST_P(PresetConversionTest, OutputHasWhatThePresetAsks) {
    const TPreset& preset = Presets()[GetParam().Preset];
    std::string source = Fixture(GetParam().Source);
    TBatchSettings settings;
    settings.PresetText = preset.Text;
    settings.OutputFolder = out.Path().string();
    std::vector<TBatchSource> sources(1);
    sources[0].Path = source;
    driver.LoadSources(sources, settings);
    ASSERT_EQ(driver.ConfigureOutputs(sources, settings), 1) << sources[0].Error;
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd(60s));
    converter.ClearTasks();
    const TerminateRecord end = events.EndOf(0);
    ASSERT_TRUE(end.Finished && !end.Exception) << "Failed: " << end.Message;
    // The output was read back and found as asked: no warning.
    EXPECT_EQ(end.Message, "");

    const std::string& output = sources[0].OutputPath;
    auto info = MediaInfo(output);
    auto sourceInfo = MediaInfo(source);
    std::string extension = PresetExtension(preset.Text);
    auto [container, brand] = Containers().at(extension);
    EXPECT_EQ(info["Container"], container);
    EXPECT_EQ(info["ContainerId"].substr(0, brand.size()), brand);

    bool hasVideo = !sourceInfo["VFormat"].empty() && !IsAudioExtension(extension);
    if (hasVideo) {
        ExpectVideoCodec(SuccessorCodecName(preset.VideoCodec), info, output);
        std::string size =
            *preset.FrameSize ? preset.FrameSize : sourceInfo["Width"] + "x" + sourceInfo["Height"];
        EXPECT_EQ(info["Width"] + "x" + info["Height"], size);
    } else {
        EXPECT_EQ(info["VFormat"], "");
    }
    ExpectAudioCodec(SuccessorCodecName(preset.AudioCodec), info);
    EXPECT_EQ(info["Channels"], preset.AudioChannels > 0 ? std::to_string(preset.AudioChannels)
                                                         : sourceInfo["Channels"]);
    EXPECT_EQ(info["Rate"], preset.AudioSampleRate > 0 ? std::to_string(preset.AudioSampleRate)
                                                       : sourceInfo["Rate"]);

    double expected = DurationSeconds(source);
    double actual = DurationSeconds(output);
    ASSERT_GT(expected, 0);
    EXPECT_NEAR(actual, expected, expected * 0.05) << output;
}

INSTANTIATE_TEST_SUITE_P(AllPresets, PresetConversionTest, ::testing::ValuesIn(Cases()), CaseName);
