// The video output path in whole conversions: the frame-rate rule (drop, repeat, the sync
// methods, the frame limit, stop requests between repeated pictures), encoding (two-pass, the
// statistics file, encoder refusals) and bad input. Outputs are decoded again with the engine's
// own libraries and described by MediaInfo and GStreamer.

#include "engine/video/VideoOutput.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "engine/session/FFMpegException.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaInfo.h"
#include "support/MediaReader.h"
#include "support/PictureReader.h"
#include "support/TempDir.h"

#include <cmath>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sstream>

using namespace mobivert::engine;
using namespace mobivert::test;
using testing::HasSubstr;

namespace {

class VideoOutputTest : public mobivert::test::LibrariesTest {
protected:
    // A conversion of one fixture to one output; the run has finished when this returns.
    std::unique_ptr<EngineRun> Convert(const std::string& input, const std::string& output,
                                       const std::string& options, int verbose = 1) {
        auto run = std::make_unique<EngineRun>();
        EXPECT_TRUE(run->AddInput(input)) << run->Error();
        EXPECT_TRUE(run->SetOutput(output, options)) << run->Error();
        run->Session.Verbose = verbose;
        run->Run();
        return run;
    }

    int CountLogged(EngineRun& run, const std::regex& pattern, int* sum = nullptr) {
        int count = 0;
        for (const LoggedLine& line : run.Lines()) {
            std::smatch match;
            if (!std::regex_match(line.Text, match, pattern))
                continue;
            EXPECT_EQ(line.Level, 1) << line.Text;
            ++count;
            if (sum && match.size() > 1)
                *sum += std::stoi(match[1]);
        }
        return count;
    }

    // The output has a whole number of pictures at 25 per second for its duration, and the
    // independent reader agrees with the engine's decoder.
    void ExpectSteady25(const std::string& out, const DecodedVideo& video) {
        IndependentVideoInfo info = MediaInfoVideo(out);
        ASSERT_TRUE(info.Read);
        EXPECT_EQ(info.FrameCount, video.DecodedCount);
        EXPECT_NEAR(video.DecodedCount, info.Duration * 25.0, 1.0);
        EXPECT_EQ(video.DecodeErrors, 0);
        EXPECT_TRUE(PlaysInGStreamer(out));
    }

    TempDir dir;
};

// ---- The drop and repeat rule on its own

TEST(VideoSyncRule, ThresholdOfDroppingIsMinusOnePointOne) {
    // A time base of one second makes the lag exactly the input time minus the position.
    AVRational second{1, 1};
    EXPECT_EQ(DecideVideoSync(-1, second, -1.1, 0).Repeat, 1);
    EXPECT_EQ(DecideVideoSync(-1, second, std::nextafter(-1.1, -2.0), 0).Repeat, 0);
    EXPECT_EQ(DecideVideoSync(1, second, 1.1, 0).Repeat, 1);
    EXPECT_EQ(DecideVideoSync(1, second, 1.2, 0).Repeat, 1);
    EXPECT_EQ(DecideVideoSync(1, second, 1.6, 0).Repeat, 2);
    // Halves round to even.
    EXPECT_EQ(DecideVideoSync(1, second, 2.5, 0).Repeat, 2);
    EXPECT_EQ(DecideVideoSync(1, second, 3.5, 0).Repeat, 4);
}

TEST(VideoSyncRule, ThreeFrameDurationsAheadWritesThePictureThreeTimes) {
    VideoSyncDecision d = DecideVideoSync(-1, {1, 25}, 0.4 + 3 * 0.04, 10);
    EXPECT_EQ(d.Repeat, 3);
    EXPECT_EQ(d.SyncOpts, 10);
}

TEST(VideoSyncRule, MillisecondTimeBaseFollowsTheInputWithoutDropOrRepeat) {
    VideoSyncDecision d = DecideVideoSync(-1, {1, 1000}, 5.0, 10);
    EXPECT_EQ(d.Repeat, 1);
    EXPECT_EQ(d.SyncOpts, 5000);
    // Far behind: automatic sync is off at this time base, so nothing is dropped either.
    d = DecideVideoSync(-1, {1, 1000}, 1.0, 5000);
    EXPECT_EQ(d.Repeat, 1);
    // Forcing drop and repeat applies it at any time base.
    EXPECT_EQ(DecideVideoSync(1, {1, 1000}, 1.0, 5000).Repeat, 0);
}

TEST(VideoSyncRule, DropOnlyFollowsTheInputButNeverRepeats) {
    VideoSyncDecision d = DecideVideoSync(2, {1, 25}, 2.0, 10);
    EXPECT_EQ(d.Repeat, 1);
    EXPECT_EQ(d.SyncOpts, 50);
    EXPECT_EQ(DecideVideoSync(2, {1, 25}, 0.35, 10).Repeat, 0);
}

TEST(VideoSyncRule, ThePositionNeverGoesBack) {
    // Without sync (and with drop only) the position is the input's, but a picture that rounds
    // onto the position already written gets the next one, so timestamps stay increasing.
    EXPECT_EQ(DecideVideoSync(0, {1, 25}, 0.1, 3).SyncOpts, 3);
    EXPECT_EQ(DecideVideoSync(0, {1, 25}, 0.2, 3).SyncOpts, 5);
    EXPECT_EQ(DecideVideoSync(2, {1, 25}, 0.1, 3).SyncOpts, 3);
    // A time base of zero keeps the position.
    EXPECT_EQ(DecideVideoSync(-1, {0, 1}, 3.0, 7).SyncOpts, 7);
}

// ---- Frame rate in whole conversions

TEST_F(VideoOutputTest, ThirtyToTwentyFiveDropsPictures) {
    std::string out = dir.File("drop.mp4");
    auto run = Convert(Fixture("fps30.mp4"), out, "vcodec=mpeg4\nr=25\nan", 3);
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_GT(run->Session.FramesDrop, 0);
    EXPECT_EQ(run->Session.FramesDup, 0);
    EXPECT_EQ(CountLogged(*run, std::regex(R"(\*\*\* drop!)")), run->Session.FramesDrop);
    DecodedVideo video = DecodeVideo(out);
    ASSERT_TRUE(video.Opened);
    EXPECT_EQ(video.Codec, "mpeg4");
    EXPECT_EQ(video.DecodedCount, 60 - run->Session.FramesDrop);
    ExpectSteady25(out, video);
}

TEST_F(VideoOutputTest, FifteenToTwentyFiveRepeatsPictures) {
    std::string out = dir.File("repeat.avi");
    auto run = Convert(Fixture("fps15.mp4"), out, "vcodec=mpeg4\nr=25", 3);
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_GT(run->Session.FramesDup, 0);
    EXPECT_EQ(run->Session.FramesDrop, 0);
    int repeated = 0;
    EXPECT_GT(CountLogged(*run, std::regex(R"(\*\*\* (\d+) dup!)"), &repeated), 0);
    EXPECT_EQ(repeated, run->Session.FramesDup);
    DecodedVideo video = DecodeVideo(out);
    EXPECT_EQ(video.DecodedCount, 30 + run->Session.FramesDup);
    ExpectSteady25(out, video);
}

TEST_F(VideoOutputTest, QuietRunsLogNoDropOrRepeatLines) {
    auto run = Convert(Fixture("fps15.mp4"), dir.File("quiet.avi"), "vcodec=mpeg4\nr=25", 2);
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_GT(run->Session.FramesDup, 0);
    EXPECT_FALSE(run->Logged("dup!"));
}

TEST_F(VideoOutputTest, NoSyncKeepsEachPictureAtItsOwnTime) {
    // 30 pictures a second at a 25 Hz time base: every sixth one rounds onto a position
    // already written and is dropped; pushing it on instead would stretch two seconds of
    // video by 0.4 s.
    std::string out = dir.File("vsync0.mp4");
    auto run = Convert(Fixture("fps30.mp4"), out, "vcodec=mpeg4\nr=25\nan\nvsync=0");
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(run->Session.FramesDrop, 10);
    EXPECT_EQ(run->Session.FramesDup, 0);
    DecodedVideo video = DecodeVideo(out);
    EXPECT_EQ(video.DecodedCount, 50);
    EXPECT_EQ(MediaInfoVideo(out).FrameCount, 50);
    EXPECT_NEAR(ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Duration(), 2.0, 0.05);
    EXPECT_TRUE(PlaysInGStreamer(out));

    std::string same = dir.File("vsync0-25.mp4");
    auto steady = Convert(Fixture("h264_aac.mp4"), same, "vcodec=mpeg4\nan\nvsync=0");
    ASSERT_FALSE(steady->Failed()) << steady->Error();
    EXPECT_EQ(DecodeVideo(same).DecodedCount, 50);
}

TEST_F(VideoOutputTest, DropOnlySyncNeverRepeats) {
    std::string out = dir.File("vsync2.mp4");
    auto run = Convert(Fixture("fps15.mp4"), out, "vcodec=mpeg4\nr=25\nvsync=2");
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(run->Session.FramesDup, 0);
    EXPECT_EQ(DecodeVideo(out).DecodedCount, 30);
    // The positions follow the input's times, so the output still lasts two seconds.
    const MediaSummary videoMedia = ReadMedia(out);
    const StreamSummary* video = videoMedia.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_NEAR(video->EndTime, 2.0, 0.08);
}

TEST_F(VideoOutputTest, FrameLimitCutsRepeatedPictures) {
    std::string out = dir.File("limit.avi");
    auto run = Convert(Fixture("fps15.mp4"), out, "vcodec=mpeg4\nr=25\nvframes=7");
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(DecodeVideo(out).DecodedCount, 7);
}

TEST_F(VideoOutputTest, StopRequestEndsARunOfRepeatedPictures) {
    // At a 250 Hz time base every 15 fps picture is written about 17 times. A stop asked for
    // when the first repeated picture is logged must keep all of its repetitions out.
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("fps15.mp4"))) << run.Error();
    std::string out = dir.File("stopped.avi");
    ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nr=250")) << run.Error();
    run.Session.Verbose = 3;
    int dupLines = 0;
    run.Session.OnLog = [&](TCustomFFmpeg& session, int, const std::string& text) {
        if (text.find("dup!") != std::string::npos && ++dupLines == 1)
            session.StopConvert();
    };
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    EXPECT_FALSE(run.Session.Finished);
    // Only the first picture, written once, precedes the stop; pictures the decoder still
    // gives at the flush are not written either.
    EXPECT_GE(dupLines, 1);
    EXPECT_EQ(DecodeVideo(out).DecodedCount, 1);
}

// ---- Encoding

// Bit rate of the video stream in bit/s: the bytes of its packets over its duration.
double VideoBitRate(const std::string& path) {
    AVFormatContext* ic = nullptr;
    if (av::avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0)
        return 0;
    int64_t bytes = 0;
    AVPacket* pkt = av::av_packet_alloc();
    while (av::av_read_frame(ic, pkt) >= 0) {
        if (ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            bytes += pkt->size;
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avformat_close_input(&ic);
    const MediaSummary videoMedia = ReadMedia(path);
    const StreamSummary* video = videoMedia.First(AVMEDIA_TYPE_VIDEO);
    return video && video->Duration() > 0 ? bytes * 8.0 / video->Duration() : 0;
}

// At a low target one pass overshoots by about half; the second pass, knowing every
// picture's complexity, lands within a few percent.
TEST_F(VideoOutputTest, TwoPassLandsCloserToTheTargetBitRate) {
    const double target = 60000;
    const std::string rate = "vcodec=mpeg4\nb=60k\nan\n";
    std::string onePass = dir.File("one.avi");
    auto single = Convert(Fixture("sample.mp4"), onePass, rate);
    ASSERT_FALSE(single->Failed()) << single->Error();

    std::string log = dir.File("twopass");
    auto first =
        Convert(Fixture("sample.mp4"), dir.File("pass1.avi"), rate + "pass=1\npasslogfile=" + log);
    ASSERT_FALSE(first->Failed()) << first->Error();
    std::ifstream statistics(log + "-0.log");
    std::string firstLine;
    ASSERT_TRUE(std::getline(statistics, firstLine)) << "the first pass writes its log";
    EXPECT_THAT(firstLine, HasSubstr("in:0"));

    std::string twoPass = dir.File("two.avi");
    auto second = Convert(Fixture("sample.mp4"), twoPass, rate + "pass=2\npasslogfile=" + log);
    ASSERT_FALSE(second->Failed()) << second->Error();
    double singleError = std::fabs(VideoBitRate(onePass) - target);
    double twoPassError = std::fabs(VideoBitRate(twoPass) - target);
    EXPECT_LT(twoPassError, singleError)
        << "one pass " << VideoBitRate(onePass) << ", two passes " << VideoBitRate(twoPass);
    EXPECT_TRUE(PlaysInGStreamer(twoPass));
}

TEST_F(VideoOutputTest, StatisticsFileHasOneLinePerCodedPicture) {
    std::string out = dir.File("stats.avi");
    std::string stats = dir.File("vstats.log");
    auto run = Convert(Fixture("h264_aac.mp4"), out, "vcodec=mpeg4\nan\nvstats_file=" + stats);
    ASSERT_FALSE(run->Failed()) << run->Error();
    run.reset(); // the statistics file is closed when the session is freed
    std::ifstream file(stats);
    std::regex format(R"(frame= +\d+ q= +\d+\.\d f_size= +\d+ s_size= +\d+kB time= \d+\.\d{3} )"
                      R"(br= +\d+\.\dkbits/s avg_br= +\d+\.\dkbits/s type= [IPB])");
    std::string line;
    int lines = 0;
    double lastTime = -1;
    while (std::getline(file, line)) {
        ++lines;
        EXPECT_TRUE(std::regex_match(line, format)) << line;
        double time = std::stod(line.substr(line.find("time=") + 5));
        EXPECT_GE(time, lastTime);
        lastTime = time;
    }
    EXPECT_EQ(lines, ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Packets);
    EXPECT_NEAR(lastTime, 2.0, 0.05);
}

TEST_F(VideoOutputTest, StatisticsFileThatCannotBeCreatedStopsTheRun) {
    std::string stats = dir.File("missing-folder/vstats.log");
    auto run = Convert(Fixture("h264_aac.mp4"), dir.File("nostats.avi"),
                       "vcodec=mpeg4\nan\nvstats_file=" + stats);
    EXPECT_TRUE(run->Failed());
    EXPECT_EQ(run->Error(), "fopen fail: " + stats);
}

// H.261 takes only 176x144 and 352x288 and refuses other sizes when it opens (the library's
// reason follows the message when the library's log is routed).
TEST_F(VideoOutputTest, EncoderThatRefusesTheSizeFailsTheRun) {
    auto run = Convert(Fixture("mpeg4_mp3.avi"), dir.File("h261.avi"), "vcodec=h261\nan");
    EXPECT_TRUE(run->Failed());
    EXPECT_EQ(run->Error().rfind("Error while opening codec for output stream #0.0 - maybe "
                                 "incorrect parameters such as bit_rate, rate, width or height",
                                 0),
              0u)
        << run->Error();
}

// ---- Bad input

// Resets the process's peak resident size and returns the peak reached since, in kB.
struct PeakMemory {
    PeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
    long Kilobytes() const {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stol(line.substr(6));
        return -1;
    }
};

TEST_F(VideoOutputTest, HugePictureHeadersAreRefusedWithoutTheAllocation) {
    std::string y4m = dir.File("huge.y4m");
    std::ofstream(y4m, std::ios::binary)
        << "YUV4MPEG2 W30000 H30000 F25:1 Ip A1:1 C420jpeg\nFRAME\n"
        << std::string(65536, '\x80');
    // A PNG whose header claims 30000 x 30000; its data holds one pixel.
    const unsigned char png[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x75, 0x30, 0x00, 0x00, 0x75, 0x30, 0x08, 0x02, 0x00, 0x00,
        0x00, 0xe9, 0x45, 0x6f, 0xed, 0x00, 0x00, 0x00, 0x0c, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9c, 0x63, 0x68, 0x68, 0x68, 0x00, 0x00, 0x03, 0x04, 0x01, 0x81, 0x4b, 0xd3, 0xd2,
        0x10, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    std::string pngPath = dir.File("huge.png");
    std::ofstream(pngPath, std::ios::binary).write(reinterpret_cast<const char*>(png), sizeof png);

    PeakMemory peak;
    for (const std::string& input : {y4m, pngPath}) {
        EngineRun run;
        std::string error;
        if (!run.AddInput(input)) {
            error = run.Error();
        } else if (!run.SetOutput(dir.File("huge.avi"), "vcodec=mpeg4\nan")) {
            error = run.Error();
        } else {
            run.Run();
            EXPECT_TRUE(run.Failed()) << input;
            error = run.Error();
        }
        EXPECT_FALSE(error.empty()) << input;
    }
    // One such picture would take 1.35 GB.
    EXPECT_LT(peak.Kilobytes(), 400 * 1024);
}

TEST_F(VideoOutputTest, CorruptVideoPacketIsSkippedAndLogged) {
    // Overwrite the middle of the 10th video packet of an MPEG-4 part 2 stream.
    std::string input = dir.File("corrupt.avi");
    std::ifstream source(Fixture("mpeg4_mp3.avi"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(source)), {});
    AVFormatContext* ic = nullptr;
    ASSERT_EQ(av::avformat_open_input(&ic, Fixture("mpeg4_mp3.avi").c_str(), nullptr, nullptr), 0);
    AVPacket* pkt = av::av_packet_alloc();
    int videoPackets = 0;
    while (av::av_read_frame(ic, pkt) >= 0) {
        bool target = ic->streams[pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                      ++videoPackets == 10;
        if (target) {
            ASSERT_GT(pkt->pos, 0);
            for (int i = 0; i < pkt->size; ++i)
                bytes[pkt->pos + i] = static_cast<char>(0xff);
        }
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avformat_close_input(&ic);
    std::ofstream(input, std::ios::binary) << bytes;

    std::string out = dir.File("survived.avi");
    auto run = Convert(input, out, "vcodec=mpeg4\nan");
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_TRUE(run->Logged("Error while decoding stream #0.0"));
    DecodedVideo video = DecodeVideo(out);
    EXPECT_GE(video.DecodedCount, 45);
    EXPECT_LE(video.DecodedCount, 51);
    EXPECT_TRUE(PlaysInGStreamer(out));
}

} // namespace
