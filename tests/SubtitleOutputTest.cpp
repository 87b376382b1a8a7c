// Subtitle output: text subtitles converted with their times, DVB subtitles written as a shown
// and a cleared packet, subtitles without a timestamp, and encoder refusals that are skipped.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeTables.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

struct WrittenPacket {
    double Time; // seconds
    double Duration;
    int Size;
};

std::vector<WrittenPacket> SubtitlePackets(const std::string& path) {
    std::vector<WrittenPacket> packets;
    AVFormatContext* ic = nullptr;
    if (av::avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0)
        return packets;
    av::avformat_find_stream_info(ic, nullptr);
    AVPacket* pkt = av::av_packet_alloc();
    while (av::av_read_frame(ic, pkt) >= 0) {
        const AVStream* st = ic->streams[pkt->stream_index];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
            packets.push_back({pkt->pts * av_q2d(st->time_base),
                               pkt->duration * av_q2d(st->time_base), pkt->size});
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avformat_close_input(&ic);
    return packets;
}

class SubtitleOutputTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        srt = dir.File("lines.srt");
        std::ofstream(srt) << "1\n00:00:01,000 --> 00:00:02,500\nFirst line\n\n"
                              "2\n00:00:04,000 --> 00:00:05,000\nSecond line\n\n";
    }
    // The text subtitles of the source converted into Matroska, as written there.
    std::vector<WrittenPacket> ConvertToMatroska(const std::string& source,
                                                 const std::string& name) {
        EngineRun run;
        std::string out = dir.File(name);
        if (!run.AddInput(source) || !run.SetOutput(out, "scodec=srt")) {
            ADD_FAILURE() << run.Error();
            return {};
        }
        run.Run();
        EXPECT_FALSE(run.Failed()) << run.Error();
        return SubtitlePackets(out);
    }

    TempDir dir;
    std::string srt;
};

TEST_F(SubtitleOutputTest, TextSubtitlesKeepTheirTimes) {
    std::vector<WrittenPacket> packets = ConvertToMatroska(srt, "text.mkv");
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_NEAR(packets[0].Time, 1.0, 0.001);
    EXPECT_NEAR(packets[0].Duration, 1.5, 0.001);
    EXPECT_NEAR(packets[1].Time, 4.0, 0.001);
    EXPECT_NEAR(packets[1].Duration, 1.0, 0.001);
}

TEST_F(SubtitleOutputTest, APauseBetweenLinesLongerThanTheJumpThresholdIsKept) {
    // 20 s without a line is no timestamp jump: the third line stays at 25 s, and the
    // overlapping second one at its own time.
    std::string paused = dir.File("paused.srt");
    std::ofstream(paused) << "1\n00:00:01,000 --> 00:00:04,000\nFirst line\n\n"
                             "2\n00:00:03,000 --> 00:00:05,000\nSecond line\n\n"
                             "3\n00:00:25,000 --> 00:00:26,000\nThird line\n\n";
    std::vector<WrittenPacket> packets = ConvertToMatroska(paused, "paused.mkv");
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_NEAR(packets[1].Time, 3.0, 0.001);
    EXPECT_NEAR(packets[2].Time, 25.0, 0.001);
    EXPECT_NEAR(packets[2].Duration, 1.0, 0.001);
}

// Direct calls with a real DVB subtitle encoder and a real Matroska muxer (whose millisecond
// time base is not the 90 kHz of MPEG-TS).
class DvbSubtitleTest : public SubtitleOutputTest {
protected:
    void SetUp() override {
        SubtitleOutputTest::SetUp();
        session.InitSession();
        session.Tables = std::make_unique<TranscodeTables>();
        session.Tables->CopyPacket = av::av_packet_alloc();

        input = av::avformat_alloc_context();
        ist.St = av::avformat_new_stream(input, nullptr);
        ist.St->time_base = {1, 1000};

        path = dir.File("dvb.mkv");
        ASSERT_GE(av::avformat_alloc_output_context2(&output, nullptr, "matroska", path.c_str()),
                  0);
        const AVCodec* codec = av::avcodec_find_encoder(AV_CODEC_ID_DVB_SUBTITLE);
        ASSERT_NE(codec, nullptr);
        encoder = av::avcodec_alloc_context3(codec);
        encoder->time_base = {1, 90000};
        encoder->width = 720;
        encoder->height = 576;
        ASSERT_GE(av::avcodec_open2(encoder, codec, nullptr), 0);
        ost.St = av::avformat_new_stream(output, nullptr);
        av::avcodec_parameters_from_context(ost.St->codecpar, encoder);
        ost.St->time_base = {1, 90000};
        ost.Enc = encoder;
        ASSERT_GE(av::avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
        ASSERT_GE(av::avformat_write_header(output, nullptr), 0);
    }
    void TearDown() override {
        if (output) {
            av::avio_closep(&output->pb);
            av::avformat_free_context(output);
        }
        av::avformat_free_context(input);
        av::avcodec_free_context(&encoder);
    }
    void Finish() {
        ASSERT_GE(av::av_write_trailer(output), 0);
        av::avio_closep(&output->pb);
    }

    // One 8 x 8 bitmap of four colours, shown from start to end milliseconds.
    static void MakeBitmapSubtitle(AVSubtitle& sub, uint32_t start, uint32_t end) {
        sub = {};
        sub.format = 0;
        sub.start_display_time = start;
        sub.end_display_time = end;
        sub.num_rects = 1;
        sub.rects = static_cast<AVSubtitleRect**>(av::av_mallocz(sizeof(AVSubtitleRect*)));
        AVSubtitleRect* rect = sub.rects[0] =
            static_cast<AVSubtitleRect*>(av::av_mallocz(sizeof(AVSubtitleRect)));
        rect->type = SUBTITLE_BITMAP;
        rect->x = 100;
        rect->y = 400;
        rect->w = rect->h = 8;
        rect->nb_colors = 4;
        rect->linesize[0] = 8;
        rect->data[0] = static_cast<uint8_t*>(av::av_mallocz(64));
        for (int i = 0; i < 64; ++i)
            rect->data[0][i] = static_cast<uint8_t>(i % 4);
        rect->data[1] = static_cast<uint8_t*>(av::av_mallocz(4 * 4));
        uint32_t palette[4] = {0x00000000, 0xffffffff, 0xffff0000, 0xff0000ff};
        std::memcpy(rect->data[1], palette, sizeof palette);
    }

    TCustomFFmpeg session;
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    AVCodecContext* encoder = nullptr;
    InputStream ist;
    OutputStream ost;
    std::string path;
};

TEST_F(DvbSubtitleTest, ShownAtTheStartAndClearedAtTheEnd) {
    AVSubtitle sub;
    MakeBitmapSubtitle(sub, 500, 2500);
    session.OutputSubtitle(output, ost, ist, &sub, 10000); // 10 s in the input's milliseconds
    EXPECT_EQ(sub.num_rects, 1u);
    EXPECT_EQ(sub.start_display_time, 500u);
    EXPECT_EQ(sub.end_display_time, 2500u);
    av::avsubtitle_free(&sub);
    Finish();

    std::vector<WrittenPacket> packets = SubtitlePackets(path);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_NEAR(packets[1].Time - packets[0].Time, 2.0, 1e-6);
    // The second packet is smaller: it holds a page without the region.
    EXPECT_LT(packets[1].Size, packets[0].Size);

    // Decoded again, the first shows the bitmap and the second shows nothing.
    AVFormatContext* ic = nullptr;
    ASSERT_EQ(av::avformat_open_input(&ic, path.c_str(), nullptr, nullptr), 0);
    av::avformat_find_stream_info(ic, nullptr);
    const AVCodec* codec = av::avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
    AVCodecContext* dec = av::avcodec_alloc_context3(codec);
    ASSERT_GE(av::avcodec_open2(dec, codec, nullptr), 0);
    AVPacket* pkt = av::av_packet_alloc();
    std::vector<unsigned> rects;
    while (av::av_read_frame(ic, pkt) >= 0) {
        AVSubtitle decoded{};
        int got = 0;
        if (av::avcodec_decode_subtitle2(dec, &decoded, &got, pkt) >= 0 && got) {
            rects.push_back(decoded.num_rects);
            av::avsubtitle_free(&decoded);
        }
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avcodec_free_context(&dec);
    av::avformat_close_input(&ic);
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0], 1u);
    EXPECT_EQ(rects[1], 0u);
}

TEST_F(DvbSubtitleTest, SubtitleWithoutTimestampIsSkippedOrStopsTheRun) {
    AVSubtitle sub;
    MakeBitmapSubtitle(sub, 0, 1000);
    std::vector<std::string> lines;
    session.OnLog = [&](TCustomFFmpeg&, int level, const std::string& text) {
        EXPECT_EQ(level, 0);
        lines.push_back(text);
    };
    session.OutputSubtitle(output, ost, ist, &sub, AV_NOPTS_VALUE);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Subtitle packets must have a pts");

    session.ExitOnError = true;
    try {
        session.OutputSubtitle(output, ost, ist, &sub, AV_NOPTS_VALUE);
        ADD_FAILURE() << "no exception";
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "Subtitle packets must have a pts");
    }
    av::avsubtitle_free(&sub);
    Finish();
    EXPECT_TRUE(SubtitlePackets(path).empty());
}

} // namespace

TEST_F(SubtitleOutputTest, TextSubtitlesGoIntoTheContainersOwnCodec) {
    // Without a named codec, Matroska takes text subtitles in its own codec, ASS.
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4"))) << run.Error();
    ASSERT_TRUE(run.AddInput(srt)) << run.Error();
    std::string out = dir.File("own.mkv");
    ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nan")) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_SUBTITLE).Codec, "ass");
    std::vector<WrittenPacket> packets = SubtitlePackets(out);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_NEAR(packets[0].Time, 1.0, 0.001);
    EXPECT_NEAR(packets[1].Time, 4.0, 0.001);
}

TEST_F(SubtitleOutputTest, EncoderRefusalsAreSkipped) {
    // Text cannot become DVD bitmaps: the encoder refuses each subtitle, which is skipped and
    // logged, and the run goes on to the end. An output that then holds nothing at all is not
    // a conversion: it fails with that reason and is removed.
    EngineRun run;
    ASSERT_TRUE(run.AddInput(srt)) << run.Error();
    std::string out = dir.File("refused.mkv");
    ASSERT_TRUE(run.SetOutput(out, "scodec=dvdsub")) << run.Error();
    run.Run();
    int refusals = 0;
    for (const LoggedLine& line : run.Lines())
        refusals += line.Text.find("Subtitle encoding failed") != std::string::npos;
    EXPECT_GE(refusals, 2);
    EXPECT_TRUE(run.Failed());
    EXPECT_EQ(run.Error(), out + ": no media was written (nothing in the source could be "
                                 "converted)");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(DvbSubtitleTest, BitmapSubtitlesAreLeftOutOfATextOnlyContainer) {
    // Matroska's own subtitle codec is text: a bitmap subtitle input leaves the output without
    // a subtitle stream instead of failing the conversion.
    AVSubtitle sub;
    MakeBitmapSubtitle(sub, 0, 1000);
    session.OutputSubtitle(output, ost, ist, &sub, 1000);
    av::avsubtitle_free(&sub);
    Finish();

    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("h264_aac.mp4"))) << run.Error();
    ASSERT_TRUE(run.AddInput(path)) << run.Error();
    std::string out = dir.File("no-subtitles.mkv");
    ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nan")) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    const MediaSummary media = ReadMedia(out);
    EXPECT_EQ(media.First(AVMEDIA_TYPE_SUBTITLE), nullptr);
    ASSERT_NE(media.First(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(media.First(AVMEDIA_TYPE_VIDEO)->Packets, 50);
}
