// Damaged copies of a 5 s WMV written by GStreamer's asfmux (video stamped 1000 h after the
// audio; cut short at several points, so that no length is known, or with a block written
// again): every preset's conversion ends by itself with an output bounded by what the source
// holds; a run that still outruns its source ends as failed with a plain reason; a demuxer
// that hands out the same packets again and again ends the run.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"
#include "support/CliPipe.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace mobivert::test;
using namespace mobivert::engine;
namespace fs = std::filesystem;
using testing::HasSubstr;

namespace {

const char* const kDamagedWmv[] = {"wmv2_wma_cut_30.asf",         "wmv2_wma_cut_50.asf",
                                   "wmv2_wma_cut_70.asf",         "wmv2_wma_cut_75.asf",
                                   "wmv2_wma_cut_83.asf",         "wmv2_wma_cut_85.asf",
                                   "wmv2_wma_cut_90.asf",         "wmv2_wma_cut_95.asf",
                                   "wmv2_wma_block_repeated.asf", "wmv2_wma_block_inserted.asf"};
// The sources hold 5 s; an output may reach twice that plus ten seconds before it is stopped.
constexpr double kSourceSeconds = 5.0;
constexpr double kBoundSeconds = 2 * kSourceSeconds + 10.0;

int RunCliWithin60s(const std::string& args, std::string& output) {
    return RunCliThroughShell("timeout -s KILL 60", args, true, output);
}

double LongestStream(const MediaSummary& media) {
    double longest = 0;
    for (const StreamSummary& stream : media.Streams)
        longest = std::max(longest, stream.Duration());
    return longest;
}

TEST(EndlessOutputTest, DamagedWmvEndsByItselfWithEveryPreset) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    std::string sources;
    for (const char* name : kDamagedWmv)
        sources += " " + ShellQuoted(Fixture(name));
    for (int preset = 1; preset <= 21; ++preset) {
        SCOPED_TRACE("preset " + std::to_string(preset));
        TempDir dir;
        std::string output;
        int status = RunCliWithin60s("-q -p " + std::to_string(preset) + " -o " +
                                         ShellQuoted(dir.Path().string()) + sources,
                                     output);
        // 0, 1 or 3: converted, failed with a reason, or converted with warnings; never killed.
        EXPECT_TRUE(status == 0 || status == 1 || status == 3) << status << "\n" << output;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            std::string name = entry.path().filename().string();
            SCOPED_TRACE(name);
            EXPECT_NE(name.front(), '.') << "a work file was left behind";
            EXPECT_EQ(name.find("[partial]"), std::string::npos);
            EXPECT_LT(entry.file_size(), 8u << 20);
            MediaSummary media = ReadMedia(entry.path().string());
            ASSERT_TRUE(media.Opened);
            EXPECT_LE(LongestStream(media), kBoundSeconds + 0.5);
        }
    }
}

TEST(EndlessOutputTest, RunThatOutrunsASourceOfUnknownLengthEndsAsFailure) {
    // With the discontinuity threshold out of reach the late video is not moved onto its file:
    // its first picture would be repeated for 1000 h. The source's length is not known, so
    // what was read (5 s of sound) bounds the output; the progress shows the output's real
    // position, beyond the sound that ended at 5 s.
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    TempDir dir;
    for (const char* name : {"wmv2_wma_cut_75.asf", "wmv2_wma_cut_95.asf"}) {
        SCOPED_TRACE(name);
        EngineRun run;
        run.RecordProgress();
        ASSERT_TRUE(run.AddInput(Fixture(name), "dts_delta_threshold=10000000")) << run.Error();
        std::string out = dir.File(std::string(name) + ".avi");
        ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nacodec=libmp3lame")) << run.Error();
        run.Run();
        EXPECT_TRUE(run.Failed());
        EXPECT_FALSE(run.Session.Finished);
        EXPECT_THAT(run.Error(), HasSubstr("The source keeps repeating itself at 00:00:0"));
        EXPECT_THAT(run.Error(), HasSubstr(": it is damaged"));
        EXPECT_LT(fs::file_size(out), 4u << 20);
        int32_t furthest = 0;
        for (const ProgressRecord& record : run.Progress)
            furthest = std::max(furthest, record.TimeMs);
        EXPECT_GT(furthest, 6000);
        EXPECT_LE(furthest, static_cast<int32_t>((kBoundSeconds + 1) * 1000));
    }
}

// Packets read from a real file, handed to the reading guard as a demuxer going round in
// circles would hand them out.
class StuckInputTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        ASSERT_TRUE(run.AddInput(Fixture("wmv2_wma.asf"))) << run.Error();
        ic = run.Session.InputFiles[0];
        tables.Files.resize(1);
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            streams.push_back(std::make_unique<InputStream>());
            streams.back()->St = ic->streams[i];
        }
        pkt = av::av_packet_alloc();
    }
    void TearDown() override { av::av_packet_free(&pkt); }

    bool ReadPacket() { return av::av_read_frame(ic, pkt) >= 0; }
    void Note() { NoteInputRead(run.Session, tables, 0, pkt, *streams[pkt->stream_index]); }
    std::string NoteUntilStopped(int times) {
        try {
            for (int i = 0; i < times; ++i)
                Note();
        } catch (const FFMpegException& e) {
            return e.what();
        }
        return {};
    }

    EngineRun run;
    AVFormatContext* ic = nullptr;
    TranscodeTables tables;
    std::vector<std::unique_ptr<InputStream>> streams;
    AVPacket* pkt = nullptr;
};

TEST_F(StuckInputTest, WholeFileReadAsItIsNeverStops) {
    int packets = 0;
    while (ReadPacket()) {
        ASSERT_EQ(NoteUntilStopped(1), "");
        av::av_packet_unref(pkt);
        ++packets;
    }
    EXPECT_GT(packets, 80); // 50 pictures and the sound of 2 s
    EXPECT_NEAR(static_cast<double>(tables.Files[0].Advance) / 1e6, 2.0, 0.2);
}

TEST_F(StuckInputTest, SamePacketAgainEndsTheRunAfterAFewRepeats) {
    ASSERT_TRUE(ReadPacket());
    // The packet itself and eight repeats are let through; the ninth repeat ends the run.
    EXPECT_EQ(NoteUntilStopped(9), "");
    EXPECT_EQ(NoteUntilStopped(1), "The source keeps repeating itself at 00:00:00: it is damaged");
}

TEST_F(StuckInputTest, PacketsThatLieNoFartherEndTheRunAfterAThousand) {
    ASSERT_TRUE(ReadPacket());
    ASSERT_GE(pkt->pos, 0);
    // New timestamps each time, but always from the same place in the file.
    std::string stopped;
    int noted = 0;
    for (; noted < 1100 && stopped.empty(); ++noted) {
        pkt->pts = pkt->dts = pkt->dts + 1;
        stopped = NoteUntilStopped(1);
    }
    EXPECT_EQ(noted, 1002);
    EXPECT_THAT(stopped, HasSubstr("The source keeps repeating itself at "));
}

} // namespace
