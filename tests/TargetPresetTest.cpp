// Target presets: the norm given, detected from the frame rate or from the opened inputs, or
// taken from the fallback; the values of each target in the session; and real disc files
// written with the preset's options, read back byte by byte.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iterator>

using namespace mobivert::engine;
using mobivert::test::Fixture;
using mobivert::test::TempDir;
using testing::Contains;
using testing::Field;
using testing::Not;

namespace {

struct LogLine {
    int level;
    std::string text;
    bool operator==(const LogLine& other) const = default;
};

// Encodes a few synthetic pictures with the session's pending video settings (codec, size,
// frame rate, the generic options through SetContextOptions) into a file of the session's
// forced output format, the way the output creation hands them to FFmpeg.
void WriteVideo(TCustomFFmpeg& session, const std::string& path, int frames) {
    AVFormatContext* oc = nullptr;
    ASSERT_GE(
        av::avformat_alloc_output_context2(&oc, session.ForcedOutputFormat, nullptr, path.c_str()),
        0);
    const AVCodec* codec = av::avcodec_find_encoder_by_name(session.VideoCodecName.c_str());
    ASSERT_NE(codec, nullptr) << session.VideoCodecName;
    AVCodecContext* enc = av::avcodec_alloc_context3(codec);
    session.SetContextOptions(enc, session.CodecOptContexts[AVMEDIA_TYPE_VIDEO],
                              AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
    enc->width = session.FrameWidth;
    enc->height = session.FrameHeight;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->framerate = {session.FrameRate.num, session.FrameRate.den};
    enc->time_base = {session.FrameRate.den, session.FrameRate.num};
    ASSERT_GE(av::avcodec_open2(enc, codec, nullptr), 0);
    AVStream* st = av::avformat_new_stream(oc, nullptr);
    ASSERT_GE(av::avcodec_parameters_from_context(st->codecpar, enc), 0);
    st->time_base = enc->time_base;
    session.SetContextOptions(oc, session.FormatOptContext, AV_OPT_FLAG_ENCODING_PARAM);
    ASSERT_GE(av::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(av::avformat_write_header(oc, nullptr), 0);

    AVFrame* frame = av::av_frame_alloc();
    frame->format = enc->pix_fmt;
    frame->width = enc->width;
    frame->height = enc->height;
    ASSERT_GE(av::av_frame_get_buffer(frame, 0), 0);
    AVPacket* packet = av::av_packet_alloc();
    for (int i = 0; i <= frames; ++i) {
        bool last = i == frames;
        if (!last) {
            ASSERT_GE(av::av_frame_make_writable(frame), 0);
            for (int plane = 0; plane < 3; ++plane) {
                int h = plane ? enc->height / 2 : enc->height;
                int w = plane ? enc->width / 2 : enc->width;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        frame->data[plane][y * frame->linesize[plane] + x] =
                            static_cast<uint8_t>(x + y * 3 + i * 7 + plane * 50);
            }
            frame->pts = i;
        }
        ASSERT_GE(av::avcodec_send_frame(enc, last ? nullptr : frame), 0);
        while (av::avcodec_receive_packet(enc, packet) == 0) {
            av::av_packet_rescale_ts(packet, enc->time_base, st->time_base);
            packet->stream_index = st->index;
            ASSERT_GE(av::av_interleaved_write_frame(oc, packet), 0);
        }
    }
    ASSERT_GE(av::av_write_trailer(oc), 0);
    av::av_packet_free(&packet);
    av::av_frame_free(&frame);
    av::avcodec_free_context(&enc);
    av::avio_closep(&oc->pb);
    av::avformat_free_context(oc);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Offsets of every occurrence of the start code 00 00 01 <code>.
std::vector<size_t> StartCodes(const std::vector<uint8_t>& data, uint8_t code) {
    std::vector<size_t> found;
    for (size_t i = 0; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == code)
            found.push_back(i);
    return found;
}

// Mux rate of an MPEG program stream pack header, in units of 50 bytes/s.
uint32_t PackMuxRate(const std::vector<uint8_t>& data, size_t pack) {
    const uint8_t* p = data.data() + pack + 4;
    if ((p[0] & 0xC0) == 0x40) // MPEG-2 pack header
        return (uint32_t(p[6]) << 14) | (uint32_t(p[7]) << 6) | (p[8] >> 2);
    return (uint32_t(p[5] & 0x7F) << 15) | (uint32_t(p[6]) << 7) | (p[7] >> 1); // MPEG-1
}

// Picture indexes of the key frames of the first video stream of a file.
std::vector<int> KeyFrames(const std::string& path) {
    std::vector<int> keys;
    AVFormatContext* input = nullptr;
    if (av::avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0)
        return keys;
    av::avformat_find_stream_info(input, nullptr);
    AVPacket* packet = av::av_packet_alloc();
    int index = 0;
    while (av::av_read_frame(input, packet) >= 0) {
        if (input->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (packet->flags & AV_PKT_FLAG_KEY)
                keys.push_back(index);
            ++index;
        }
        av::av_packet_unref(packet);
    }
    av::av_packet_free(&packet);
    av::avformat_close_input(&input);
    return keys;
}

class TargetPresetTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
        session.OnLog = [this](TCustomFFmpeg&, int level, const std::string& text) {
            log.push_back({level, text});
        };
    }

    std::string Refusal(const std::function<void()>& action) {
        try {
            action();
        } catch (const FFMpegException& e) {
            return e.what();
        }
        return "";
    }

    // Opens a media file as an input of the session, as the input opening leaves it.
    void AddInput(const std::string& path) {
        AVFormatContext* input = nullptr;
        ASSERT_EQ(av::avformat_open_input(&input, path.c_str(), nullptr, nullptr), 0) << path;
        ASSERT_GE(av::avformat_find_stream_info(input, nullptr), 0);
        session.InputFiles[session.InputFileCount++] = input;
    }

    // A short MPEG-1 video of the given frame rate, made with a session of its own.
    std::string MakeVideo(const std::string& name, const char* rate) {
        TCustomFFmpeg maker;
        maker.InitSession();
        maker.ApplyOptionText(std::string("f=mpeg\nvcodec=mpeg1video\ns=176x120\nr=") + rate);
        std::string path = dir.File(name);
        WriteVideo(maker, path, 5);
        return path;
    }

    bool Logged(const std::string& text) const {
        for (const LogLine& line : log)
            if (line.text == text && line.level == 1)
                return true;
        return false;
    }

    TempDir dir;
    TCustomFFmpeg session;
    std::vector<LogLine> log;
};

TEST_F(TargetPresetTest, PalDvdSetsEveryItem) {
    session.AudioChannels = 1;
    session.ApplyOptionText("target=pal-dvd");
    EXPECT_EQ(session.VideoCodecName, "mpeg2video");
    EXPECT_EQ(session.AudioCodecName, "ac3");
    ASSERT_NE(session.ForcedOutputFormat, nullptr);
    EXPECT_STREQ(session.ForcedOutputFormat->name, "dvd");
    EXPECT_EQ(session.FrameWidth, 720);
    EXPECT_EQ(session.FrameHeight, 576);
    EXPECT_EQ(session.FrameRate.num, 25);
    EXPECT_EQ(session.FrameRate.den, 1);
    AVCodecContext* video = session.CodecOptContexts[AVMEDIA_TYPE_VIDEO];
    AVCodecContext* audio = session.CodecOptContexts[AVMEDIA_TYPE_AUDIO];
    EXPECT_EQ(video->gop_size, 15);
    EXPECT_EQ(video->bit_rate, 6000000);
    EXPECT_EQ(video->rc_max_rate, 9000000);
    EXPECT_EQ(video->rc_min_rate, 0);
    EXPECT_EQ(video->rc_buffer_size, 1835008);
    EXPECT_EQ(audio->bit_rate, 448000);
    EXPECT_EQ(session.FormatOptContext->packet_size, 2048u);
    EXPECT_EQ(session.AudioSampleRate, 48000);
    EXPECT_EQ(session.AudioChannels, 2);
    EXPECT_NEAR(session.FrameAspectRatio, 16.0f / 9.0f, 1e-6);
    EXPECT_TRUE(Logged("Assuming 16:9 for aspect ratio"));
    // The norm was given: nothing was assumed about it.
    EXPECT_FALSE(Logged("Assuming PAL for target."));

    // An aspect ratio already set is kept, without a note.
    TCustomFFmpeg other;
    other.InitSession();
    other.FrameAspectRatio = 1.25f;
    other.AudioChannels = 6;
    other.SetTarget("dvd", "ntsc", "pal");
    EXPECT_FLOAT_EQ(other.FrameAspectRatio, 1.25f);
    EXPECT_EQ(other.AudioChannels, 6);
    EXPECT_EQ(other.FrameHeight, 480);
    EXPECT_EQ(other.CodecOptContexts[AVMEDIA_TYPE_VIDEO]->gop_size, 18);
}

TEST_F(TargetPresetTest, PalDvdFileCarriesThePresetsRatesAndSizes) {
    session.ApplyOptionText("target=pal-dvd");
    std::string path = dir.File("disc.vob");
    WriteVideo(session, path, 31);
    std::vector<uint8_t> data = ReadFile(path);
    ASSERT_FALSE(data.empty());

    // Packs of 2048 bytes with a mux rate of 10080000 bit/s (25200 x 50 bytes/s).
    std::vector<size_t> packs = StartCodes(data, 0xBA);
    ASSERT_FALSE(packs.empty());
    EXPECT_EQ(data.size() % 2048, 0u);
    for (size_t pack : packs) {
        EXPECT_EQ(pack % 2048, 0u);
        EXPECT_EQ(PackMuxRate(data, pack), 25200u);
    }
    // The sequence header: 720 x 576, 25 frames per second (code 3), the maximum rate in units
    // of 400 bit/s and the buffer in units of 16 kbit.
    std::vector<size_t> sequences = StartCodes(data, 0xB3);
    ASSERT_FALSE(sequences.empty());
    const uint8_t* h = data.data() + sequences[0] + 4;
    EXPECT_EQ((h[0] << 4) | (h[1] >> 4), 720);
    EXPECT_EQ(((h[1] & 0x0F) << 8) | h[2], 576);
    EXPECT_EQ(h[3] & 0x0F, 3);
    uint32_t bitRateValue = (uint32_t(h[4]) << 10) | (uint32_t(h[5]) << 2) | (h[6] >> 6);
    EXPECT_EQ(bitRateValue, 9000000u / 400);
    uint32_t vbv = ((h[6] & 0x1F) << 5) | (h[7] >> 3);
    EXPECT_EQ(vbv, 1835008u / 16384);
    // A group of pictures of 15.
    EXPECT_EQ(KeyFrames(path), (std::vector<int>{0, 15, 30}));
}

TEST_F(TargetPresetTest, VcdAndSvcdFilesCarryTheirMuxSettings) {
    session.ApplyOptionText("target=pal-vcd");
    EXPECT_FLOAT_EQ(session.MuxPreload, 0.44f);
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_VIDEO]->rc_min_rate, 1150000);
    EXPECT_TRUE(Logged("Assuming 4:3 for aspect ratio"));
    std::string vcd = dir.File("disc.mpg");
    WriteVideo(session, vcd, 16);
    std::vector<uint8_t> data = ReadFile(vcd);
    std::vector<size_t> packs = StartCodes(data, 0xBA);
    ASSERT_FALSE(packs.empty());
    EXPECT_EQ(data.size() % 2324, 0u);
    for (size_t pack : packs)
        EXPECT_EQ(PackMuxRate(data, pack), 1411200u / 400);

    // The SVCD encoder writes the scan offset user data: 00 00 01 B2 10 0E.
    TCustomFFmpeg svcdSession;
    svcdSession.InitSession();
    svcdSession.ApplyOptionText("target=pal-svcd");
    std::string svcd = dir.File("svcd.mpg");
    WriteVideo(svcdSession, svcd, 4);
    data = ReadFile(svcd);
    std::vector<size_t> userData = StartCodes(data, 0xB2);
    ASSERT_FALSE(userData.empty());
    EXPECT_EQ(data[userData[0] + 4], 0x10);
    EXPECT_EQ(data[userData[0] + 5], 0x0E);
    EXPECT_EQ(data.size() % 2324, 0u);
}

TEST_F(TargetPresetTest, NormFromTheFrameRateOrTheInputs) {
    // 29.97 frames per second in the session's frame rate.
    session.Verbose = 1;
    session.FrameRate = {30000, 1001};
    session.ApplyOptionText("target=vcd");
    EXPECT_TRUE(Logged("Assuming NTSC for target."));
    EXPECT_EQ(session.FrameWidth, 352);
    EXPECT_EQ(session.FrameHeight, 240);
    EXPECT_EQ(session.FrameRate.num, 30000);
    EXPECT_EQ(session.FrameRate.den, 1001);
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_VIDEO]->gop_size, 18);

    // A frame rate of no norm: the first video stream of the inputs with one decides; an audio
    // only input and a video of no norm before it are passed over.
    TCustomFFmpeg second;
    second.InitSession();
    std::vector<LogLine> secondLog;
    second.OnLog = [&](TCustomFFmpeg&, int level, const std::string& text) {
        secondLog.push_back({level, text});
    };
    second.FrameRate = {15, 1};
    std::string ntsc = MakeVideo("ntsc.mpg", "30000/1001");
    for (const std::string& path : {Fixture("tone.mp3"), Fixture("fps15.mp4"), ntsc}) {
        AVFormatContext* input = nullptr;
        ASSERT_EQ(av::avformat_open_input(&input, path.c_str(), nullptr, nullptr), 0);
        ASSERT_GE(av::avformat_find_stream_info(input, nullptr), 0);
        second.InputFiles[second.InputFileCount++] = input;
    }
    second.SetTarget("dv", "auto", "pal");
    EXPECT_EQ(second.FramePixFmt, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(second.FrameHeight, 480);
    EXPECT_THAT(secondLog, Contains(LogLine{1, "Assuming NTSC for target."}));

    // Without verbosity the norm is not announced.
    TCustomFFmpeg quiet;
    quiet.InitSession();
    std::vector<LogLine> quietLog;
    quiet.OnLog = [&](TCustomFFmpeg&, int level, const std::string& text) {
        quietLog.push_back({level, text});
    };
    quiet.Verbose = 0;
    quiet.FrameRate = {25, 1};
    quiet.SetTarget("svcd", "auto", "ntsc");
    EXPECT_EQ(quiet.FrameHeight, 576);
    EXPECT_THAT(quietLog, Not(Contains(Field(&LogLine::text, "Assuming PAL for target."))));
    EXPECT_THAT(quietLog, Contains(LogLine{1, "Assuming 4:3 for aspect ratio"}));
}

TEST_F(TargetPresetTest, DvOnPalAndNtscInput) {
    AddInput(Fixture("h264_aac.mp4"));
    session.FrameRate = {1, 1};
    session.ApplyOptionText("target=dv");
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(session.FrameWidth, 720);
    EXPECT_EQ(session.FrameHeight, 576);
    EXPECT_EQ(session.FrameRate.num, 25);
    EXPECT_STREQ(session.ForcedOutputFormat->name, "dv");
    EXPECT_EQ(session.AudioSampleRate, 48000);
    EXPECT_EQ(session.AudioChannels, 2);
    // The camcorder presets set no codecs and no aspect ratio.
    EXPECT_EQ(session.VideoCodecName, "");
    EXPECT_FLOAT_EQ(session.FrameAspectRatio, 0.0f);

    // 23.976 frames per second counts as NTSC, not as film.
    TCustomFFmpeg ntsc;
    ntsc.InitSession();
    ntsc.FrameRate = {24000, 1001};
    ntsc.SetTarget("dv", "auto", "pal");
    EXPECT_EQ(ntsc.FramePixFmt, AV_PIX_FMT_YUV411P);
    EXPECT_EQ(ntsc.FrameRate.num, 30000);
    EXPECT_EQ(ntsc.FrameRate.den, 1001);

    TCustomFFmpeg film;
    film.InitSession();
    film.ApplyOptionText("target=film-dv50");
    EXPECT_EQ(film.FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(film.FrameWidth, 720);
    EXPECT_EQ(film.FrameHeight, 480);
    EXPECT_EQ(film.FrameRate.num, 24000);
    EXPECT_EQ(film.FrameRate.den, 1001);
}

TEST_F(TargetPresetTest, FallbackNormWhenNothingIsDetected) {
    AddInput(Fixture("fps15.mp4"));
    session.FrameRate = {15, 1};
    session.SetTarget("vcd", "auto", "pal");
    EXPECT_EQ(session.FrameHeight, 288);
    EXPECT_TRUE(Logged("Assuming PAL for target."));

    // The option's own fallback is NTSC.
    session.FrameRate = {15, 1};
    session.ApplyOptionText("target=vcd");
    EXPECT_EQ(session.FrameHeight, 240);
    EXPECT_EQ(session.FrameRate.num, 30000);

    session.FrameRate = {15, 1};
    session.SetTarget("dvd", "whatever", "film");
    EXPECT_EQ(session.FrameRate.num, 24000);
    EXPECT_EQ(session.FrameHeight, 480);
}

TEST_F(TargetPresetTest, RefusalsAndTheirOrder) {
    // No frame rate at all: detection fails, a given norm does not need it.
    EXPECT_EQ(Refusal([&] { session.ApplyOptionText("target=vcd"); }), "frame_rate is invalid.");
    EXPECT_EQ(session.VideoCodecName, "");
    EXPECT_EQ(Refusal([&] { session.ApplyOptionText("target=cd"); }), "frame_rate is invalid.");
    EXPECT_EQ(Refusal([&] { session.ApplyOptionText("target=pal-vcd"); }), "");
    EXPECT_EQ(session.FrameHeight, 288);

    EXPECT_EQ(Refusal([&] { session.ApplyOptionText("target=cd"); }), "Unknown target type");
    EXPECT_EQ(Refusal([&] { session.ApplyOptionText("target=pal-"); }), "Unknown target type");
    EXPECT_EQ(Refusal([&] { session.SetTarget("VCD", "pal", "pal"); }), "Unknown target type");
    // The value is trimmed before its prefix is cut off.
    EXPECT_EQ(Refusal([&] { session.SetTargetOption(" \tntsc-svcd\r\n"); }), "");
    EXPECT_EQ(session.FrameWidth, 480);
    EXPECT_EQ(session.FrameHeight, 480);
}

TEST_F(TargetPresetTest, SvcdKeepsMoreThanOneChannel) {
    session.AudioChannels = 6;
    session.SetTarget("svcd", "pal", "pal");
    EXPECT_EQ(session.AudioChannels, 6);
    EXPECT_EQ(session.AudioSampleRate, 44100);
    session.AudioChannels = 1;
    session.SetTarget("svcd", "pal", "pal");
    EXPECT_EQ(session.AudioChannels, 2);
    // The video CD always has two channels.
    session.AudioChannels = 6;
    session.SetTarget("vcd", "pal", "pal");
    EXPECT_EQ(session.AudioChannels, 2);
}

} // namespace
