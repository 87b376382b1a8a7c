// Whole runs of the transcode with stream copy: every packet kept, the start at a key frame,
// the limits that end the loop, timestamp discontinuities, stream maps, stop requests, progress
// and the summary, and write failures.

#include "binding/AVLibs.h"
#include "engine/session/FFmpegThread.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <cmath>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

using namespace mobivert::engine;
using namespace mobivert::test;
using testing::HasSubstr;

namespace {

constexpr const char* Copy = "vcodec=copy\nacodec=copy";

class TranscodeCopyTest : public mobivert::test::LibrariesTest {
protected:
    TempDir dir;
};

void ExpectSamePackets(const MediaSummary& in, const MediaSummary& out, AVMediaType type,
                       double frameDuration) {
    const StreamSummary* source = in.First(type);
    const StreamSummary* copy = out.First(type);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Codec, source->Codec);
    EXPECT_EQ(copy->Packets, source->Packets);
    EXPECT_NEAR(copy->Duration(), source->Duration(), frameDuration);
}

TEST_F(TranscodeCopyTest, Mp4ToMatroskaKeepsEveryPacketOfBothStreams) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4"))) << run.Error();
    std::string out = dir.File("copy.mkv");
    ASSERT_TRUE(run.SetOutput(out, Copy)) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    EXPECT_TRUE(run.Session.Finished);
    MediaSummary in = ReadMedia(Fixture("h264_aac.mp4"));
    MediaSummary result = ReadMedia(out);
    ASSERT_TRUE(result.Opened);
    EXPECT_EQ(result.FormatName, "matroska,webm");
    ExpectSamePackets(in, result, AVMEDIA_TYPE_VIDEO, 0.04);
    ExpectSamePackets(in, result, AVMEDIA_TYPE_AUDIO, 1024.0 / 44100);
    EXPECT_THAT(Discover(out), HasSubstr("H.264"));
}

TEST_F(TranscodeCopyTest, BitstreamFilterRewritesEveryCopiedPacket) {
    // MP4 keeps H.264 with length prefixes; the filter turns every packet into start codes,
    // which a raw H.264 file needs.
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4"))) << run.Error();
    std::string out = dir.File("annexb.h264");
    ASSERT_TRUE(run.SetOutput(out, "vcodec=copy\nan\nvbsf=h264_mp4toannexb")) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    std::ifstream file(out, std::ios::binary);
    char head[4] = {};
    file.read(head, 4);
    EXPECT_EQ(std::string(head, 4), std::string("\0\0\0\1", 4));
    EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Packets,
              ReadFirstStream(Fixture("h264_aac.mp4"), AVMEDIA_TYPE_VIDEO).Packets);
}

TEST_F(TranscodeCopyTest, MpegTsToMp4KeepsEveryPacket) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264.ts"))) << run.Error();
    std::string out = dir.File("copy.mp4");
    ASSERT_TRUE(run.SetOutput(out, Copy)) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    MediaSummary in = ReadMedia(Fixture("h264.ts"));
    MediaSummary result = ReadMedia(out);
    ASSERT_TRUE(result.Opened);
    ExpectSamePackets(in, result, AVMEDIA_TYPE_VIDEO, 0.04);
    EXPECT_EQ(result.First(AVMEDIA_TYPE_AUDIO), nullptr);
    EXPECT_THAT(Discover(out), HasSubstr("H.264"));
}

// An MPEG-TS cut at a packet boundary inside the first group of pictures starts with pictures
// that cannot be decoded on their own; the copy must begin at the next key picture.
TEST_F(TranscodeCopyTest, CopiedVideoStartsAtTheFirstKeyPacket) {
    std::ifstream source(Fixture("h264.ts"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(source)), {});
    std::string cut = dir.File("cut.ts");
    std::ofstream(cut, std::ios::binary) << bytes.substr(188 * 40);
    MediaSummary in = ReadMedia(cut);
    ASSERT_TRUE(in.Opened);
    const StreamSummary* inVideo = in.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(inVideo, nullptr);
    ASSERT_FALSE(inVideo->FirstPacketIsKey) << "the cut must start inside a group of pictures";

    EngineRun run;
    ASSERT_TRUE(run.AddInput(cut)) << run.Error();
    std::string out = dir.File("from-key.mkv");
    ASSERT_TRUE(run.SetOutput(out, "vcodec=copy")) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    MediaSummary result = ReadMedia(out);
    const StreamSummary* video = result.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(video->FirstPacketIsKey);
    EXPECT_LT(video->Packets, inVideo->Packets);
    EXPECT_GT(video->Packets, 0);
}

TEST_F(TranscodeCopyTest, VideoFrameLimitStopsTheWholeRun) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4"))) << run.Error();
    std::string out = dir.File("limited.mkv");
    ASSERT_TRUE(run.SetOutput(out, std::string(Copy) + "\nvframes=20")) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    MediaSummary result = ReadMedia(out);
    const StreamSummary* video = result.First(AVMEDIA_TYPE_VIDEO);
    const StreamSummary* audio = result.First(AVMEDIA_TYPE_AUDIO);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(video->Packets, 20);
    // The audio stops with the video, not at the end of the file (2 s).
    EXPECT_LT(audio->EndTime, 1.2);
}

TEST_F(TranscodeCopyTest, ShortestEndsWithTheFirstInputThatEnds) {
    auto convert = [&](const std::string& name, const std::string& extra) {
        EngineRun run;
        EXPECT_TRUE(run.AddInput(Fixture("h264.ts"))) << run.Error();    // 2 s of video
        EXPECT_TRUE(run.AddInput(Fixture("sample.mp4"))) << run.Error(); // 3 s
        std::string out = dir.File(name);
        EXPECT_TRUE(run.SetOutput(out, "vcodec=copy\nacodec=copy\nmap=0:0\nmap=1:1" + extra))
            << run.Error();
        run.Run();
        EXPECT_FALSE(run.Failed()) << run.Error();
        return ReadMedia(out);
    };
    MediaSummary longest = convert("longest.mkv", "");
    MediaSummary shortest = convert("shortest.mkv", "\nshortest");
    ASSERT_NE(longest.First(AVMEDIA_TYPE_AUDIO), nullptr);
    ASSERT_NE(shortest.First(AVMEDIA_TYPE_AUDIO), nullptr);
    EXPECT_GT(longest.First(AVMEDIA_TYPE_AUDIO)->EndTime, 2.8);
    EXPECT_LT(shortest.First(AVMEDIA_TYPE_AUDIO)->EndTime, 2.5);
}

// Two copies of a clip joined byte for byte, the second 20 s later than the first: a forward
// jump in the middle of one stream. Both are remuxed the same way so that they join cleanly.
std::string RemuxTs(TempDir& dir, const std::string& name, const std::string& inputOptions) {
    EngineRun remux;
    EXPECT_TRUE(remux.AddInput(Fixture("h264.ts"), inputOptions + "\ncopyts")) << remux.Error();
    std::string out = dir.File(name);
    EXPECT_TRUE(remux.SetOutput(out, "vcodec=copy")) << remux.Error();
    remux.Run();
    EXPECT_FALSE(remux.Failed()) << remux.Error();
    return out;
}

std::string JoinWithJump(TempDir& dir) {
    std::string joined = dir.File("joined.ts");
    std::ofstream out(joined, std::ios::binary);
    for (const std::string& part :
         {RemuxTs(dir, "first.ts", ""), RemuxTs(dir, "later.ts", "itsoffset=20")}) {
        std::ifstream in(part, std::ios::binary);
        out << in.rdbuf();
    }
    return joined;
}

TEST_F(TranscodeCopyTest, ForwardJumpIsAbsorbedUnlessTimestampsAreKept) {
    std::string joined = JoinWithJump(dir);
    MediaSummary in = ReadMedia(joined);
    ASSERT_NE(in.First(AVMEDIA_TYPE_VIDEO), nullptr);
    ASSERT_GT(in.First(AVMEDIA_TYPE_VIDEO)->Duration(), 15.0) << "the joined input has the jump";

    EngineRun absorbed;
    ASSERT_TRUE(absorbed.AddInput(joined)) << absorbed.Error();
    std::string out = dir.File("absorbed.mkv");
    ASSERT_TRUE(absorbed.SetOutput(out, "vcodec=copy")) << absorbed.Error();
    absorbed.Run();
    ASSERT_FALSE(absorbed.Failed()) << absorbed.Error();
    const MediaSummary videoMedia = ReadMedia(out);
    const StreamSummary* video = videoMedia.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_LT(video->Duration(), 5.0);

    EngineRun kept;
    ASSERT_TRUE(kept.AddInput(joined, "copyts")) << kept.Error();
    std::string keptOut = dir.File("kept.mkv");
    ASSERT_TRUE(kept.SetOutput(keptOut, "vcodec=copy")) << kept.Error();
    kept.Run();
    ASSERT_FALSE(kept.Failed()) << kept.Error();
    const MediaSummary keptVideoMedia = ReadMedia(keptOut);
    const StreamSummary* keptVideo = keptVideoMedia.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(keptVideo, nullptr);
    EXPECT_GT(keptVideo->Duration(), 15.0);
}

TEST_F(TranscodeCopyTest, StreamMapMessages) {
    {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4")));
        ASSERT_TRUE(run.SetOutput(dir.File("one-map.mkv"), std::string(Copy) + "\nmap=0:0"));
        run.Run();
        EXPECT_EQ(run.Error(), "Number of stream maps must match number of output streams");
    }
    {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4")));
        ASSERT_TRUE(
            run.SetOutput(dir.File("swapped.mkv"), std::string(Copy) + "\nmap=0:1\nmap=0:0"));
        run.Run();
        EXPECT_EQ(run.Error(), "Codec type mismatch for mapping #0.1 -> #0.0");
    }
    {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4")));
        ASSERT_TRUE(
            run.SetOutput(dir.File("missing.mkv"), std::string(Copy) + "\nmap=0:0\nmap=0:5"));
        run.Run();
        EXPECT_EQ(run.Error(), "Could not find input stream #0.5");
    }
    {
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4")));
        ASSERT_TRUE(
            run.SetOutput(dir.File("sync.mkv"), std::string(Copy) + "\nmap=0:0:3:0\nmap=0:1"));
        run.Run();
        EXPECT_EQ(run.Error(), "Could not find sync stream #3.0");
    }
}

TEST_F(TranscodeCopyTest, CopyIncompatibilitiesFailBeforeAnyHeader) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4")));
    std::string out = dir.File("vol.mkv");
    ASSERT_TRUE(run.SetOutput(out, std::string(Copy) + "\nvol=512"));
    run.Run();
    EXPECT_TRUE(run.Failed());
    EXPECT_EQ(run.Error(), "-acodec copy and -vol are incompatible (frames are not decoded)");
    EXPECT_FALSE(std::filesystem::exists(out)) << "nothing was written, so nothing stays";

    EngineRun hooked;
    ASSERT_TRUE(hooked.AddInput(Fixture("h264_aac.mp4")));
    ASSERT_TRUE(hooked.SetOutput(dir.File("hook.mkv"), Copy));
    hooked.Session.OnCustomHook = [](TCustomFFmpeg&, TBitmap*, int32_t, int64_t, bool&, bool&) {};
    hooked.Run();
    EXPECT_EQ(hooked.Error(),
              "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
}

TEST_F(TranscodeCopyTest, SizeLimitStopsAtTheFirstOutputsSize) {
    EngineRun full;
    ASSERT_TRUE(full.AddInput(Fixture("sample.mp4")));
    std::string fullOut = dir.File("full.mkv");
    ASSERT_TRUE(full.SetOutput(fullOut, Copy));
    full.Run();
    ASSERT_FALSE(full.Failed()) << full.Error();

    EngineRun limited;
    ASSERT_TRUE(limited.AddInput(Fixture("sample.mp4")));
    std::string limitedOut = dir.File("limited.mkv");
    ASSERT_TRUE(limited.SetOutput(limitedOut, std::string(Copy) + "\nfs=20000"));
    limited.Run();
    ASSERT_FALSE(limited.Failed()) << limited.Error();
    auto fullSize = std::filesystem::file_size(fullOut);
    auto limitedSize = std::filesystem::file_size(limitedOut);
    EXPECT_GT(limitedSize, 20000u);
    EXPECT_LT(limitedSize, fullSize);
    EXPECT_TRUE(ReadMedia(limitedOut).Opened);
}

TEST_F(TranscodeCopyTest, StopDuringTheRunLeavesACompleteShorterFile) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("sample.mp4")));
    std::string out = dir.File("stopped.mkv");
    ASSERT_TRUE(run.SetOutput(out, Copy));
    run.Session.ProgressInterval = 0;
    int reports = 0;
    run.Session.OnProgress = [&](TCustomFFmpeg& engine, int32_t, int32_t, int32_t timeMs, float,
                                 float, int64_t, int32_t) {
        if (++reports == 1 || timeMs > 500)
            engine.StopConvert();
    };
    run.Run();
    EXPECT_FALSE(run.Failed()) << run.Error();
    EXPECT_FALSE(run.Session.Finished);
    MediaSummary result = ReadMedia(out);
    ASSERT_TRUE(result.Opened);
    const StreamSummary* video = result.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_GT(video->Packets, 0);
    EXPECT_LT(video->Packets, ReadFirstStream(Fixture("sample.mp4"), AVMEDIA_TYPE_VIDEO).Packets);
    EXPECT_THAT(Discover(out), HasSubstr("Duration"));
}

TEST_F(TranscodeCopyTest, AudioOnlyProgressHasNoFrameNumbersAndNeverGoesBack) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("tone.mp3")));
    ASSERT_TRUE(run.SetOutput(dir.File("tone.mka"), "acodec=copy"));
    run.RecordProgress(0);
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    ASSERT_GE(run.Progress.size(), 2u);
    int32_t lastTime = 0;
    int64_t lastSize = 0;
    for (const ProgressRecord& record : run.Progress) {
        EXPECT_EQ(record.FrameNumber, -1);
        EXPECT_EQ(record.Fps, -1);
        EXPECT_FLOAT_EQ(record.Quality, -1.0f);
        EXPECT_GE(record.TimeMs, lastTime);
        // The muxer may hold its first cluster back: the size never shrinks.
        EXPECT_GE(record.Size, lastSize);
        EXPECT_GT(record.BitRate * record.TimeMs, -1.0f);
        lastTime = record.TimeMs;
        lastSize = record.Size;
    }
    EXPECT_GT(run.Progress.back().Size, 0);
    EXPECT_NEAR(run.Progress.back().TimeMs, 2000, 100);
}

TEST_F(TranscodeCopyTest, VideoProgressAndSummaryLine) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4")));
    ASSERT_TRUE(run.SetOutput(dir.File("summary.mkv"), Copy));
    run.Session.ProgressInterval = 0;
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    std::vector<LoggedLine> lines = run.Lines();
    bool progressLine = false;
    std::string summary;
    for (const LoggedLine& line : lines) {
        if (line.Text.rfind("frame=", 0) == 0) {
            progressLine = true;
            EXPECT_THAT(line.Text, HasSubstr("q=-1.0"));
            EXPECT_THAT(line.Text, HasSubstr("bitrate="));
        }
        if (line.Text.rfind("video:", 0) == 0)
            summary = line.Text;
    }
    EXPECT_TRUE(progressLine);
    EXPECT_THAT(summary, HasSubstr("audio:"));
    EXPECT_THAT(summary, HasSubstr("muxing overhead"));
    ASSERT_GE(summary.size(), 2u);
    EXPECT_EQ(summary.substr(summary.size() - 2), "\r\n");
    EXPECT_TRUE(run.Logged("Stream mapping:"));
    EXPECT_TRUE(run.Logged("  Stream #0.0 -> #0.0"));
}

TEST_F(TranscodeCopyTest, WriteFailureFailsTheRunWithTheWriteText) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("sample.mp4")));
    ASSERT_TRUE(run.SetOutput("/dev/full", std::string(Copy) + "\nf=matroska")) << run.Error();
    run.Run();
    EXPECT_TRUE(run.Failed());
    // Small outputs reach the disk only when the trailer flushes them.
    EXPECT_THAT(run.Error(), testing::AnyOf(testing::StartsWith("av_interleaved_write_frame(): "),
                                            testing::StartsWith("av_write_trailer(): ")));
    EXPECT_THAT(run.Error(), HasSubstr("no space left on the device"));
    EXPECT_TRUE(run.Session.OpenEncoders.empty());
    EXPECT_TRUE(run.Session.OpenDecoders.empty());
}

TEST_F(TranscodeCopyTest, DamagedInputsConvertWhatIsReadable) {
    std::ifstream source(Fixture("sample.mp4"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(source)), {});

    // The index of this MP4 is at its end: cut off, nothing is readable, which is said clearly.
    std::string truncated = dir.File("truncated.mp4");
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() * 2 / 3);
    EngineRun refused;
    EXPECT_FALSE(refused.AddInput(truncated));
    EXPECT_THAT(refused.Error(), HasSubstr("truncated.mp4"));

    // A transport stream cut short converts up to the cut.
    std::ifstream ts(Fixture("h264.ts"), std::ios::binary);
    std::string tsBytes((std::istreambuf_iterator<char>(ts)), {});
    std::string shortTs = dir.File("short.ts");
    std::ofstream(shortTs, std::ios::binary) << tsBytes.substr(0, tsBytes.size() / 2 + 77);
    EngineRun cut;
    ASSERT_TRUE(cut.AddInput(shortTs)) << cut.Error();
    std::string cutOut = dir.File("from-short.mkv");
    ASSERT_TRUE(cut.SetOutput(cutOut, "vcodec=copy"));
    cut.Run();
    EXPECT_FALSE(cut.Failed()) << cut.Error();
    const MediaSummary cutVideoMedia = ReadMedia(cutOut);
    const StreamSummary* cutVideo = cutVideoMedia.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(cutVideo, nullptr);
    EXPECT_GT(cutVideo->Packets, 5);
    EXPECT_LT(cutVideo->Packets, 50);

    // 40 kB of noise in the middle of the media data: the rest still converts.
    std::string noisy = dir.File("noisy.mp4");
    std::string damaged = bytes;
    for (size_t i = 20000; i < 60000 && i < damaged.size(); ++i)
        damaged[i] = static_cast<char>((i * 2654435761u) >> 24);
    std::ofstream(noisy, std::ios::binary) << damaged;
    EngineRun run;
    ASSERT_TRUE(run.AddInput(noisy)) << run.Error();
    std::string out = dir.File("from-noisy.mkv");
    ASSERT_TRUE(run.SetOutput(out, Copy));
    run.Run();
    EXPECT_FALSE(run.Failed()) << run.Error();
    MediaSummary result = ReadMedia(out);
    ASSERT_TRUE(result.Opened);
    EXPECT_EQ(result.First(AVMEDIA_TYPE_VIDEO)->Packets, 75);
}

} // namespace
