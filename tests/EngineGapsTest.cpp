// Whole conversions for engine rules that had gaps: the aspect of a copied video stream, a
// bitstream filter that fails on a packet, DV output from sources at any sample rate, the
// two-pass statistics of an encoder that keeps its own file, and the statistics line of every
// picture an encoder holds back. Outputs are checked with MediaInfo, GStreamer and the
// libraries' own reading.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaInfo.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>

using namespace mobivert::test;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

namespace {

class EngineGapsTest : public mobivert::test::LibrariesTest {
protected:
    TempDir dir;
};

std::string LogText(EngineRun& run, int level) {
    std::string text;
    for (const LoggedLine& line : run.Lines())
        if (line.Level == level)
            text += line.Text + "\n";
    return text;
}

TEST_F(EngineGapsTest, CopiedVideoTakesTheAspectAskedFor) {
    // 640x480 pictures with 8:9 samples: 1.185 as they are, 16:9 when asked.
    for (auto [options, aspect] : {std::pair{"", "1.185"}, std::pair{"aspect=16:9\n", "1.778"}}) {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("sar_8_9.mp4"))) << run.Error();
        std::string out = dir.File(std::string("copy") + aspect + ".mp4");
        ASSERT_TRUE(run.SetOutput(out, std::string(options) + "vcodec=copy")) << run.Error();
        run.Run();
        ASSERT_FALSE(run.Failed()) << run.Error();
        EXPECT_EQ(MediaInfoText(out, "Video;%DisplayAspectRatio%"), aspect) << options;
        EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Packets, 25);
    }
}

// A copy of an MP4 file whose tenth video sample starts with an impossible NAL unit length,
// as one damaged sample of a phone recording would. Returns the damaged sample's data.
std::string WithDamagedVideoSample(const std::string& source, const std::string& copy) {
    AVFormatContext* ic = nullptr;
    if (av::avformat_open_input(&ic, source.c_str(), nullptr, nullptr) < 0)
        return {};
    std::string sample;
    int64_t position = -1;
    AVPacket* pkt = av::av_packet_alloc();
    for (int video = 0; position < 0 && av::av_read_frame(ic, pkt) >= 0;) {
        if (ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            ++video == 10) {
            position = pkt->pos;
            sample.assign(reinterpret_cast<const char*>(pkt->data), pkt->size);
        }
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avformat_close_input(&ic);
    if (position < 0 || sample.size() < 4)
        return {};
    sample.replace(0, 4, "\x7f\xff\xff\xff");
    std::filesystem::copy_file(source, copy);
    std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(position);
    file.write(sample.data(), 4);
    return file ? sample : std::string();
}

int Occurrences(const std::string& path, const std::string& data) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    int count = 0;
    for (size_t at = bytes.find(data); at != std::string::npos; at = bytes.find(data, at + 1))
        ++count;
    return count;
}

TEST_F(EngineGapsTest, FailingBitstreamFilterWritesThePacketUnfiltered) {
    // The source's video goes out twice, the second copy through the filter, so the message
    // must name stream 1.
    std::string source = dir.File("damaged.mp4");
    std::string damaged = WithDamagedVideoSample(Fixture("h264_aac.mp4"), source);
    ASSERT_FALSE(damaged.empty());
    for (bool strict : {false, true}) {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(source)) << run.Error();
        std::string out = dir.File(strict ? "strict.avi" : "unfiltered.avi");
        ASSERT_TRUE(run.SetOutput(out, std::string(strict ? "xerror\n" : "") + "vcodec=copy\nan"))
            << run.Error();
        run.Session.ApplyOptionText("vcodec=copy\nvbsf=h264_mp4toannexb\nnewvideo");
        run.Run();
        if (strict) {
            EXPECT_TRUE(run.Failed());
            EXPECT_THAT(run.Error(),
                        StartsWith("h264_mp4toannexb failed for stream 1, codec copy"));
            continue;
        }
        ASSERT_FALSE(run.Failed()) << run.Error();
        std::string problems = LogText(run, 0);
        EXPECT_THAT(problems, HasSubstr("h264_mp4toannexb failed for stream 1, codec copy"));
        EXPECT_THAT(problems, Not(HasSubstr("for stream 0")));
        // The damaged sample is in both streams: copied as it is, and unfiltered.
        EXPECT_EQ(Occurrences(out, damaged), 2);
        MediaSummary media = ReadMedia(out);
        ASSERT_EQ(media.Streams.size(), 2u);
        EXPECT_EQ(media.Streams[1].Codec, "h264");
        EXPECT_EQ(media.Streams[0].Packets, 50);
        EXPECT_THAT(Discover(out), HasSubstr("H.264"));
    }
}

TEST_F(EngineGapsTest, DvTakesSoundAtAnySampleRate) {
    struct Case {
        const char* Target;
        std::vector<const char*> Inputs; // video first; a second input brings the sound
        int Height;
        double Seconds;
    };
    const Case cases[] = {
        {"ntsc-dv", {"sample.mp4"}, 480, 3.0},                  // 44.1 kHz stereo
        {"pal-dv", {"sample.mp4"}, 576, 3.0},                   // 44.1 kHz stereo
        {"ntsc-dv", {"fps30.mp4", "mono8k.wav"}, 480, 2.0},     // 8 kHz mono
        {"dv", {"fps30.mp4", "surround51_48k.flac"}, 480, 2.0}, // 48 kHz 5.1, NTSC by fallback
    };
    for (const Case& c : cases) {
        std::string name = std::string(c.Target) + "-" + c.Inputs.back();
        SCOPED_TRACE(name);
        EngineRun run;
        for (const char* input : c.Inputs)
            ASSERT_TRUE(run.AddInput(Fixture(input))) << run.Error();
        std::string maps = c.Inputs.size() > 1 ? "map=0:0\nmap=1:0\n" : "";
        std::string out = dir.File(name + ".dv");
        ASSERT_TRUE(run.SetOutput(out, maps + "target=" + c.Target)) << run.Error();
        run.Run();
        ASSERT_FALSE(run.Failed()) << run.Error();
        MediaSummary media = ReadMedia(out);
        ASSERT_TRUE(media.Opened);
        const StreamSummary* video = media.First(AVMEDIA_TYPE_VIDEO);
        const StreamSummary* audio = media.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_NE(video, nullptr);
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(video->Codec, "dvvideo");
        EXPECT_EQ(video->Height, c.Height);
        EXPECT_EQ(audio->SampleRate, 48000);
        EXPECT_EQ(audio->Channels, 2);
        EXPECT_NEAR(video->Duration(), c.Seconds, 0.1);
        EXPECT_THAT(Discover(out), HasSubstr("DV"));
    }
}

TEST_F(EngineGapsTest, TwoPassLibx264KeepsItsStatisticsUnderThePassLogName) {
    // Two runs with different log names, as two conversions at once would have, each keep
    // their own statistics; nothing goes to x264's default file in the working folder.
    const bool defaultLogBefore = std::filesystem::exists("x264_2pass.log");
    for (const char* name : {"first", "second"}) {
        std::string log = dir.File(name);
        EngineRun pass1;
        ASSERT_TRUE(pass1.AddInput(Fixture("sample.mp4"))) << pass1.Error();
        ASSERT_TRUE(pass1.SetOutput(dir.File(std::string(name) + "1.mp4"),
                                    "vcodec=libx264\nan\nb=200000\npass=1\npasslogfile=" + log))
            << pass1.Error();
        pass1.Run();
        ASSERT_FALSE(pass1.Failed()) << pass1.Error();
        std::ifstream stats(log + "-0.log");
        std::string first;
        ASSERT_TRUE(std::getline(stats, first)) << log << "-0.log";
        EXPECT_THAT(first, StartsWith("#options:"));

        EngineRun pass2;
        ASSERT_TRUE(pass2.AddInput(Fixture("sample.mp4"))) << pass2.Error();
        std::string out = dir.File(std::string(name) + "2.mp4");
        ASSERT_TRUE(
            pass2.SetOutput(out, "vcodec=libx264\nan\nb=200000\npass=2\npasslogfile=" + log))
            << pass2.Error();
        pass2.Run();
        ASSERT_FALSE(pass2.Failed()) << pass2.Error();
        EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Packets, 75);
    }
    EXPECT_EQ(std::filesystem::exists("x264_2pass.log"), defaultLogBefore);

    EngineRun missing;
    ASSERT_TRUE(missing.AddInput(Fixture("sample.mp4"))) << missing.Error();
    std::string absent = dir.File("absent");
    ASSERT_TRUE(missing.SetOutput(dir.File("absent.mp4"),
                                  "vcodec=libx264\nan\npass=2\npasslogfile=" + absent))
        << missing.Error();
    missing.Run();
    EXPECT_TRUE(missing.Failed());
    EXPECT_EQ(missing.Error(), "creat open fail: " + absent + "-0.log");
}

TEST_F(EngineGapsTest, StatisticsFileHasALineForEveryPictureAnEncoderHeldBack) {
    // libx264 holds pictures back for its look-ahead and gives them up only when drained.
    std::string out = dir.File("x264.mp4");
    std::string stats = dir.File("x264-vstats.log");
    {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4"))) << run.Error();
        ASSERT_TRUE(run.SetOutput(out, "vcodec=libx264\nan\nvstats_file=" + stats)) << run.Error();
        run.Run();
        ASSERT_FALSE(run.Failed()) << run.Error();
    } // the statistics file is closed with the session
    std::ifstream file(stats);
    std::string line;
    int lines = 0;
    while (std::getline(file, line)) {
        ++lines;
        int number = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "frame= %d", &number), 1) << line;
        EXPECT_EQ(number, lines);
    }
    EXPECT_EQ(lines, 50);
    EXPECT_EQ(lines, ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Packets);
}

} // namespace
