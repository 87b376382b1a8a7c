// Building a task's output record from the preset, the stored choices and the source's own
// values, read through a probe of the real source file.

#include "app/shared/ConversionDriver.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "support/TempDir.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

using namespace mobivert::app;
using mobivert::converter::TAVProbe;
using mobivert::converter::TOutputOptions;
using mobivert::test::Fixture;
using mobivert::test::TempDir;

namespace {

// A 16x16 PNG picture, encoded by the library's PNG encoder.
AVPacket* PngPicture() {
    const AVCodec* png = av::avcodec_find_encoder(AV_CODEC_ID_PNG);
    AVCodecContext* enc = av::avcodec_alloc_context3(png);
    enc->width = enc->height = 16;
    enc->pix_fmt = AV_PIX_FMT_RGB24;
    enc->time_base = {1, 25};
    AVFrame* frame = av::av_frame_alloc();
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = frame->height = 16;
    AVPacket* pkt = av::av_packet_alloc();
    if (av::avcodec_open2(enc, png, nullptr) < 0 || av::av_frame_get_buffer(frame, 0) < 0 ||
        av::avcodec_send_frame(enc, frame) < 0 || av::avcodec_receive_packet(enc, pkt) < 0)
        av::av_packet_free(&pkt);
    av::av_frame_free(&frame);
    av::avcodec_free_context(&enc);
    return pkt;
}

// An MP3 with a picture attached to it (cover art): the tone fixture's audio packets and a PNG,
// written by the library's MP3 muxer (an ID3 picture frame). Empty on success.
std::string WriteMp3WithCover(const std::string& path) {
    AVFormatContext* in = nullptr;
    if (av::avformat_open_input(&in, Fixture("tone.mp3").c_str(), nullptr, nullptr) < 0)
        return "cannot open the tone";
    av::avformat_find_stream_info(in, nullptr);
    AVFormatContext* out = nullptr;
    av::avformat_alloc_output_context2(&out, nullptr, "mp3", path.c_str());
    AVStream* audio = av::avformat_new_stream(out, nullptr);
    av::avcodec_parameters_copy(audio->codecpar, in->streams[0]->codecpar);
    audio->codecpar->codec_tag = 0;
    AVStream* cover = av::avformat_new_stream(out, nullptr);
    cover->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    cover->codecpar->codec_id = AV_CODEC_ID_PNG;
    cover->codecpar->width = cover->codecpar->height = 16;
    cover->disposition = AV_DISPOSITION_ATTACHED_PIC;
    std::string error;
    AVPacket* picture = PngPicture();
    int ret = 0;
    if (!picture)
        error = "cannot encode the picture";
    else if (av::avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        error = "cannot create the file";
    else if ((ret = av::avformat_write_header(out, nullptr)) < 0)
        error = "cannot write the header: " + std::to_string(ret);
    else {
        picture->stream_index = 1;
        av::av_interleaved_write_frame(out, picture);
        AVPacket* pkt = av::av_packet_alloc();
        while (av::av_read_frame(in, pkt) >= 0) {
            pkt->stream_index = 0;
            av::av_packet_rescale_ts(pkt, in->streams[0]->time_base, audio->time_base);
            av::av_interleaved_write_frame(out, pkt);
        }
        av::av_packet_free(&pkt);
        if (av::av_write_trailer(out) < 0)
            error = "cannot write the trailer";
    }
    av::av_packet_free(&picture);
    av::avio_closep(&out->pb);
    av::avformat_free_context(out);
    av::avformat_close_input(&in);
    return error;
}

} // namespace

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

TEST_F(DriverOptionsTest, RealVideoIsKeptWhateverTheSourcesExtension) {
    // The Ogg file holds Theora video: ".ogg" is an audio extension, but moving pictures win.
    TOutputOptions o = Build(Fixture("theora_vorbis.ogg"), "DivX Video (*.avi)");
    EXPECT_FALSE(o.DisableVideo);
    EXPECT_EQ(o.FrameSize, "320x240");
    EXPECT_EQ(o.VideoBitRate, 1500000);

    // Names that hold only part of an audio extension (".m", ".mp", ".ac") keep their video too,
    // and an audio-only source with an audio extension still gets none.
    TempDir dir;
    for (const char* name : {"clip.m", "clip.mp", "clip.ac"}) {
        std::string copy = dir.File(name);
        std::filesystem::copy_file(Fixture("h264_aac.mp4"), copy);
        o = Build(copy, "AVI Video (*.avi)");
        EXPECT_FALSE(o.DisableVideo) << name;
        EXPECT_EQ(o.FrameSize, "640x480") << name;
    }
    o = Build(Fixture("tone.mp3"), "AVI Video (*.avi)");
    EXPECT_TRUE(o.DisableVideo);
    EXPECT_EQ(o.FrameSize, "");
}

TEST_F(DriverOptionsTest, APictureAttachedToTheSourceNeverBecomesVideo) {
    TempDir dir;
    std::string withCover = dir.File("cover.mp3");
    ASSERT_EQ(WriteMp3WithCover(withCover), "");
    // Under a name that says nothing about audio, the cover art is still no video to convert.
    std::string renamed = dir.File("cover.dat");
    std::filesystem::copy_file(withCover, renamed);
    for (const std::string& source : {withCover, renamed}) {
        TAVProbe probe;
        ASSERT_TRUE(probe.Open(source)) << probe.LastError();
        EXPECT_EQ(probe.VideoStreamCount(), 1) << source;
        EXPECT_EQ(probe.MovingVideoStreamCount(), 0) << source;
        TOutputOptions o = BuildOutputOptions("AVI Video (*.avi)", probe, {});
        EXPECT_TRUE(o.DisableVideo) << source;
        EXPECT_EQ(o.FrameSize, "") << source;
    }
}

TEST_F(DriverOptionsTest, AudioOnlySourceWithOtherExtensionGetsNoVideo) {
    TempDir dir;
    std::string copy = dir.File("tone.m4a");
    std::filesystem::copy_file(Fixture("tone.mp3"), copy);
    TOutputOptions o = Build(copy, "AVI Video (*.avi)");
    EXPECT_TRUE(o.DisableVideo);
    EXPECT_EQ(o.FrameSize, "");
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

TEST_F(DriverOptionsTest, AWidthOrAHeightAloneKeepsTheSourcesShapeAsShown) {
    // The size box unchecked with one side left blank passes the dialog's check...
    TStoredChoices choices;
    choices.ResolutionDefault = false;
    choices.WidthText = "320";
    EXPECT_EQ(CheckStoredChoices(choices), "");
    // (a size typed as WxH needs both)
    EXPECT_EQ(CheckChoices(choices), MSG_SIZE_NOT_INTEGER);
    EXPECT_EQ(DescribeChoices(choices, true), "width 320");
    // ... and gets the other side from the source: 640x480, then 640x480 shown as 8:9 pixels.
    EXPECT_EQ(Build(Fixture("h264_aac.mp4"), "AVI Video (*.avi)", choices).FrameSize, "320x240");
    EXPECT_EQ(Build(Fixture("sar_8_9.mp4"), "AVI Video (*.avi)", choices).FrameSize, "320x270");
    choices.WidthText = " ";
    choices.HeightText = "120";
    EXPECT_EQ(CheckStoredChoices(choices), "");
    EXPECT_EQ(Build(Fixture("h264_aac.mp4"), "AVI Video (*.avi)", choices).FrameSize, "160x120");

    // Neither side, or a side that is not a number, is still refused.
    choices.HeightText = "";
    EXPECT_EQ(CheckStoredChoices(choices), MSG_SIZE_NOT_INTEGER);
    choices.WidthText = "32a";
    EXPECT_EQ(CheckStoredChoices(choices), MSG_SIZE_NOT_INTEGER);
}
