// The audio output path end to end: real conversions of small files to every kind of audio
// encoder, read back through the libraries and through GStreamer; the choice of a rate and
// layout the encoder takes; volume; large buffers; a corrupt packet.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFmpeg.h"
#include "support/AudioSamples.h"
#include "support/EngineRun.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

// Samples per coded frame and the delay an encoder adds at the start, by codec (raw streams such
// as AC-3 and AMR do not record them).
struct CodecTiming {
    int Frame;
    int Delay;
};
CodecTiming TimingOf(const std::string& codec) {
    static const std::map<std::string, CodecTiming> timings = {
        {"mp3", {1152, 1105}}, {"mp2", {1152, 0}},      {"aac", {1024, 1024}},
        {"ac3", {1536, 256}},  {"wmav2", {2048, 2048}}, {"amr_nb", {160, 160}}};
    auto found = timings.find(codec);
    return found == timings.end() ? CodecTiming{1, 0} : found->second;
}

// The output lasts as long as the input, give or take one encoder frame plus the codec delay.
void ExpectSameDuration(double inputSeconds, double outputSeconds, const DecodedAudio& out,
                        const std::string& reader) {
    const CodecTiming timing = TimingOf(out.Codec);
    const double tolerance = static_cast<double>(timing.Frame + timing.Delay) / out.SampleRate;
    EXPECT_NEAR(outputSeconds, inputSeconds, tolerance) << reader << ": " << out.Codec;
}

class AudioOutputTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true))
            << mobivert::binding::AVLibsLastError();
        generated_ = new TempDir();
        // 22.05 kHz stereo tone, in small packets.
        ASSERT_EQ(WritePcmMatroska(Generated("sine22k.mka"), 22050, 2, 2 * 22050, 1024,
                                   [](int64_t i, int) { return Sine(i, 22050, 1000, 0.25); }),
                  "");
        // 96 kHz 5.1, each channel its own tone, in 100 ms packets.
        ASSERT_EQ(
            WritePcmMatroska(Generated("surround96k.mka"), 96000, 6, 2 * 96000, 9600,
                             [](int64_t i, int c) { return Sine(i, 96000, 300.0 + 100 * c, 0.2); }),
            "");
    }
    static void TearDownTestSuite() {
        delete generated_;
        generated_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true))
            << mobivert::binding::AVLibsLastError();
    }

    static std::string Generated(const std::string& name) { return generated_->File(name); }
    static std::string Source(const std::string& name) {
        return name.ends_with(".mka") ? Generated(name) : Fixture(name);
    }

    // Converts and fails the test when the run does not succeed.
    void Convert(EngineRun& run, const std::string& input, const std::string& inputOptions,
                 const std::string& output, const std::string& outputOptions) {
        ASSERT_TRUE(run.AddInput(input, inputOptions)) << run.Error();
        ASSERT_TRUE(run.SetOutput(output, outputOptions)) << run.Error();
        run.Run();
        ASSERT_FALSE(run.Failed()) << run.Error();
        ASSERT_TRUE(run.Session.Finished);
    }

    static TempDir* generated_;
    TempDir dir;
};

TempDir* AudioOutputTest::generated_ = nullptr;

struct ConversionCase {
    const char* Name;
    const char* Input;
    const char* Options;
    const char* Output;
    const char* Codec;
    int Channels;
    int SampleRate;
    double Tone;           // Hz on the first channel, 0 when the input mixes tones there
    const char* ChoiceLog; // text of the logged rate or layout choice, empty when none
};

class AudioConversionTest : public AudioOutputTest,
                            public testing::WithParamInterface<ConversionCase> {};

TEST_P(AudioConversionTest, ConvertsToTheEncodersFormatAndKeepsTheDuration) {
    const ConversionCase& c = GetParam();
    EngineRun run;
    const std::string output = dir.File(c.Output);
    Convert(run, Source(c.Input), "", output, c.Options);
    if (HasFatalFailure())
        return;

    DecodedAudio in = DecodeAudio(Source(c.Input));
    DecodedAudio out = DecodeAudio(output);
    ASSERT_TRUE(out.Opened);
    EXPECT_EQ(out.Codec, c.Codec);
    EXPECT_EQ(out.Channels, c.Channels);
    EXPECT_EQ(out.SampleRate, c.SampleRate);
    EXPECT_EQ(out.DecodeErrors, 0);
    ExpectSameDuration(in.Seconds(), out.Seconds(), out, "libavcodec");
    // Every channel carries sound, so a downmix or upmix lost nothing.
    for (int ch = 0; ch < out.Channels; ++ch)
        EXPECT_GT(out.Rms(ch), 1000.0) << "channel " << ch;
    // A wrong rate conversion would shift the pitch.
    if (c.Tone > 0) {
        EXPECT_NEAR(out.Frequency(0, out.Frames() / 4, out.Frames() * 3 / 4), c.Tone,
                    c.Tone * 0.01);
    }
    if (*c.ChoiceLog) {
        EXPECT_TRUE(run.Logged(c.ChoiceLog)) << c.ChoiceLog;
    }

    GstAudio gst = GstDecodeAudio(output, dir.Path().string());
    ASSERT_TRUE(gst.Decoded) << gst.Output;
    EXPECT_EQ(gst.Channels, c.Channels);
    EXPECT_EQ(gst.SampleRate, c.SampleRate);
    ExpectSameDuration(in.Seconds(), gst.Seconds(), out, "GStreamer");
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, AudioConversionTest,
    testing::Values(
        ConversionCase{"Surround48kToMp3Stereo44k", "surround51_48k.flac",
                       "acodec=libmp3lame\nar=44100\nac=2", "out.mp3", "mp3", 2, 44100, 0, ""},
        ConversionCase{"Surround48kToMp3AsIs", "surround51_48k.flac", "acodec=libmp3lame",
                       "out.mp3", "mp3", 2, 48000, 0,
                       "Audio encoder libmp3lame does not take 5.1 audio: using stereo"},
        ConversionCase{"Surround96kToMp3AsIs", "surround96k.mka", "acodec=libmp3lame", "out.mp3",
                       "mp3", 2, 48000, 0,
                       "Audio encoder libmp3lame does not take 96000 Hz: using 48000 Hz"},
        ConversionCase{"Mono8kToAacStereo48k", "mono8k.wav", "acodec=aac\nar=48000\nac=2",
                       "out.m4a", "aac", 2, 48000, 440, ""},
        ConversionCase{"Stereo44kToAmrNb", "sine_stereo_44k.wav", "acodec=libopencore_amrnb",
                       "out.amr", "amr_nb", 1, 8000, 1000,
                       "Audio encoder libopencore_amrnb does not take 44100 Hz: using 8000 Hz"},
        ConversionCase{"Stereo44kToWmaV2", "sine_stereo_44k.wav", "acodec=wmav2", "out.wma",
                       "wmav2", 2, 44100, 1000, ""},
        ConversionCase{"Mp3ToMp2", "tone.mp3", "acodec=mp2", "out.mp2", "mp2", 2, 44100, 1000, ""},
        ConversionCase{"Mono8kToMp2", "mono8k.wav", "acodec=mp2", "out.mp2", "mp2", 1, 16000, 440,
                       "Audio encoder mp2 does not take 8000 Hz: using 16000 Hz"},
        ConversionCase{"Stereo22kToAc3", "sine22k.mka", "acodec=ac3", "out.ac3", "ac3", 2, 32000,
                       1000, "Audio encoder ac3 does not take 22050 Hz: using 32000 Hz"},
        ConversionCase{"SurroundToAc3Surround", "surround51_48k.flac", "acodec=ac3", "out.ac3",
                       "ac3", 6, 48000, 300, ""},
        ConversionCase{"Stereo44kToPcmWav", "sine_stereo_44k.wav", "acodec=pcm_s16le", "out.wav",
                       "pcm_s16le", 2, 44100, 1000, ""},
        ConversionCase{"Stereo44kToPcmWav8kMono", "sine_stereo_44k.wav",
                       "acodec=pcm_s16le\nar=8000\nac=1", "out.wav", "pcm_s16le", 1, 8000, 1000,
                       ""},
        ConversionCase{"Mp3ToPcmWav8k", "tone.mp3", "acodec=pcm_s16le\nar=8000\nac=1", "out.wav",
                       "pcm_s16le", 1, 8000, 1000, ""}),
    [](const testing::TestParamInfo<ConversionCase>& info) { return info.param.Name; });

// A sample-based encoder whose samples take three bytes gets every sample, each coded in three.
TEST_F(AudioOutputTest, Pcm24BitCodesEverySampleInThreeBytes) {
    EngineRun run;
    Convert(run, Fixture("sine_stereo_44k.wav"), "", dir.File("out.wav"), "acodec=pcm_s24le");
    if (HasFatalFailure())
        return;
    DecodedAudio in = DecodeAudio(Fixture("sine_stereo_44k.wav"));
    DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    EXPECT_EQ(out.Codec, "pcm_s24le");
    ASSERT_EQ(out.Frames(), in.Frames());
    EXPECT_EQ(out.Samples, in.Samples);
    const auto size = std::filesystem::file_size(dir.File("out.wav"));
    const auto data = static_cast<std::uintmax_t>(in.Frames()) * 2 * 3;
    EXPECT_GE(size, data);
    EXPECT_LT(size, data + 200) << "only the header on top of the samples";
}

TEST_F(AudioOutputTest, VolumeScalesEverySampleAndClipsInsteadOfWrapping) {
    DecodedAudio in = DecodeAudio(Fixture("sine_stereo_44k.wav"));
    ASSERT_GT(in.Peak(0), 8000);
    for (int volume : {512, 2048}) {
        SCOPED_TRACE(volume);
        EngineRun run;
        const std::string output = dir.File("vol" + std::to_string(volume) + ".wav");
        Convert(run, Fixture("sine_stereo_44k.wav"), "", output,
                "acodec=pcm_s16le\nvol=" + std::to_string(volume));
        if (HasFatalFailure())
            return;
        DecodedAudio out = DecodeAudio(output);
        ASSERT_EQ(out.Samples.size(), in.Samples.size());
        size_t wrong = 0;
        for (size_t i = 0; i < in.Samples.size(); ++i) {
            int expected = std::clamp((in.Samples[i] * volume + 128) >> 8, -32768, 32767);
            wrong += out.Samples[i] != expected;
        }
        EXPECT_EQ(wrong, 0u);
        if (volume == 512) {
            EXPECT_NEAR(out.Peak(0), 2 * in.Peak(0), 2);
        } else {
            EXPECT_EQ(out.Peak(0), 32768);
            // Clipped samples keep their sign: a wrapped one would flip it.
            size_t flipped = 0;
            for (size_t i = 0; i < in.Samples.size(); ++i)
                flipped += (in.Samples[i] > 0 && out.Samples[i] <= 0) ||
                           (in.Samples[i] < 0 && out.Samples[i] >= 0);
            EXPECT_EQ(flipped, 0u);
        }
    }
}

// Buffers far beyond any fixed size: 8 channels at 96 kHz in packets of five seconds.
TEST_F(AudioOutputTest, HugeBuffersOfManyChannelsConvertWhole) {
    const std::string input = dir.File("huge.mka");
    const int64_t frames = 6 * 96000;
    ASSERT_EQ(
        WritePcmMatroska(input, 96000, 8, frames, 5 * 96000,
                         [](int64_t i, int c) { return Sine(i, 96000, 200.0 + 50 * c, 0.1); }),
        "");
    {
        EngineRun run;
        Convert(run, input, "", dir.File("huge.wav"), "acodec=pcm_s16le");
        if (HasFatalFailure())
            return;
        DecodedAudio out = DecodeAudio(dir.File("huge.wav"));
        DecodedAudio in = DecodeAudio(input);
        EXPECT_EQ(out.Channels, 8);
        EXPECT_EQ(out.SampleRate, 96000);
        EXPECT_EQ(out.Samples, in.Samples);
    }
    {
        EngineRun run;
        Convert(run, input, "", dir.File("huge.mp3"), "acodec=libmp3lame");
        if (HasFatalFailure())
            return;
        DecodedAudio out = DecodeAudio(dir.File("huge.mp3"));
        EXPECT_EQ(out.Channels, 2);
        EXPECT_EQ(out.SampleRate, 48000);
        ExpectSameDuration(6.0, out.Seconds(), out, "libavcodec");
    }
}

// Overwrites the payload of the audio packet in the middle of the file.
std::string CorruptMiddleAudioPacket(const std::string& source, const std::string& target,
                                     int& audioIndex) {
    std::filesystem::copy_file(source, target);
    AVFormatContext* ic = nullptr;
    if (av::avformat_open_input(&ic, source.c_str(), nullptr, nullptr) < 0)
        return "cannot open";
    av::avformat_find_stream_info(ic, nullptr);
    audioIndex = av::av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    std::vector<std::pair<int64_t, int>> packets;
    AVPacket* pkt = av::av_packet_alloc();
    while (av::av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == audioIndex && pkt->pos >= 0)
            packets.emplace_back(pkt->pos, pkt->size);
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avformat_close_input(&ic);
    if (packets.size() < 10)
        return "too few audio packets";
    auto [pos, size] = packets[packets.size() / 2];
    std::fstream file(target, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(pos);
    for (int i = 0; i < size; ++i)
        file.put(static_cast<char>(0xff));
    return "";
}

TEST_F(AudioOutputTest, CorruptPacketIsSkippedAndTheRestConverts) {
    const std::string corrupt = dir.File("corrupt.mp4");
    int audioIndex = -1;
    ASSERT_EQ(CorruptMiddleAudioPacket(Fixture("h264_aac.mp4"), corrupt, audioIndex), "");
    DecodedAudio original = DecodeAudio(Fixture("h264_aac.mp4"));
    ASSERT_GT(DecodeAudio(corrupt).DecodeErrors, 0) << "the damage must hit the decoder";

    EngineRun run;
    Convert(run, corrupt, "", dir.File("out.wav"), "vn\nacodec=pcm_s16le");
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(run.Logged("Error while decoding stream #0." + std::to_string(audioIndex)));
    DecodedAudio out = DecodeAudio(dir.File("out.wav"));
    // One AAC frame of 1024 samples is missing, nothing more.
    EXPECT_LE(out.Frames(), original.Frames());
    EXPECT_GE(out.Frames(), original.Frames() - 2 * 1024);
    EXPECT_GT(out.Rms(0, out.Frames() - 22050), 1000.0) << "the end converted";
}

TEST_F(AudioOutputTest, CorruptPacketFailsTheRunWithExitOnError) {
    const std::string corrupt = dir.File("corrupt.mp4");
    int audioIndex = -1;
    ASSERT_EQ(CorruptMiddleAudioPacket(Fixture("h264_aac.mp4"), corrupt, audioIndex), "");
    EngineRun run;
    ASSERT_TRUE(run.AddInput(corrupt)) << run.Error();
    ASSERT_TRUE(run.SetOutput(dir.File("out.wav"), "vn\nacodec=pcm_s16le\nxerror")) << run.Error();
    run.Run();
    ASSERT_TRUE(run.Failed());
    EXPECT_EQ(run.Error(), "Error while decoding stream #0." + std::to_string(audioIndex));
    EXPECT_FALSE(run.Session.Finished);
}

struct ChoiceCase {
    const char* Encoder;
    int Rate;
    int Channels;
    int ExpectedRate;
    int ExpectedChannels;
};

TEST_F(AudioOutputTest, EncoderGetsTheNearestRateAndLayoutItTakes) {
    const ChoiceCase cases[] = {
        {"libmp3lame", 96000, 6, 48000, 2},       // highest below; stereo for too many channels
        {"libmp3lame", 44100, 1, 44100, 1},       // both taken as they are
        {"libmp3lame", 7000, 2, 8000, 2},         // nothing below: the lowest above
        {"mp2", 8000, 1, 16000, 1},               //
        {"mp2", 50000, 2, 48000, 2},              //
        {"ac3", 22050, 2, 32000, 2},              //
        {"ac3", 48000, 6, 48000, 6},              // 5.1 is listed
        {"ac3", 96000, 8, 48000, 2},              // 8 channels are not
        {"aac", 96000, 2, 96000, 2},              // aac lists no layouts
        {"aac", 50000, 2, 48000, 2},              //
        {"libopencore_amrnb", 44100, 2, 8000, 1}, // speech codec: 8 kHz mono only
        {"pcm_s16le", 12345, 3, 12345, 3},        // takes anything
    };
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(std::string(c.Encoder) + " " + std::to_string(c.Rate) + " Hz " +
                     std::to_string(c.Channels) + " ch");
        const AVCodec* codec = av::avcodec_find_encoder_by_name(c.Encoder);
        ASSERT_NE(codec, nullptr);
        TCustomFFmpeg session;
        session.InitSession();
        std::vector<std::string> lines;
        session.OnLog = [&](TCustomFFmpeg&, int level, const std::string& text) {
            if (level == 1)
                lines.push_back(text);
        };
        OutputStream ost;
        ost.Enc = av::avcodec_alloc_context3(codec);
        ost.Enc->sample_rate = c.Rate;
        av::av_channel_layout_default(&ost.Enc->ch_layout, c.Channels);
        const int64_t bitRate = ost.Enc->bit_rate;
        session.ChooseAudioEncoderFormat(ost);
        EXPECT_EQ(ost.Enc->sample_rate, c.ExpectedRate);
        EXPECT_EQ(ost.Enc->ch_layout.nb_channels, c.ExpectedChannels);
        EXPECT_EQ(ost.Enc->time_base.num, 1);
        EXPECT_EQ(ost.Enc->time_base.den, c.ExpectedRate);
        // The library's default bit rate counts as derived, and is held to the encoder's
        // ceiling (AMR's 12.2 kbit/s) with a line of its own.
        const size_t changes = (c.Rate != c.ExpectedRate) + (c.Channels != c.ExpectedChannels) +
                               (ost.Enc->bit_rate != bitRate);
        if (codec->id == AV_CODEC_ID_AMR_NB) {
            EXPECT_EQ(ost.Enc->bit_rate, 12200);
        }
        EXPECT_EQ(lines.size(), changes);
        av::avcodec_free_context(&ost.Enc);
    }
}

} // namespace
