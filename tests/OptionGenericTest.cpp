// The generic option fallback on FFmpeg's real option holders: the five-type search, the
// container and scaler holders, the type-letter prefix, the remembered names, the debug rule,
// the copy into real codec and container contexts with its flag filter, the names FFmpeg now
// keeps elsewhere, and the codec look-up.

#include "binding/AVCodecHlpr.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace mobivert::engine;
using testing::ElementsAre;

namespace {

int64_t IntOption(void* object, const char* name) {
    int64_t value = -1;
    EXPECT_GE(av::av_opt_get_int(object, name, AV_OPT_SEARCH_CHILDREN, &value), 0) << name;
    return value;
}

// A real encoder context, freed with the test.
struct Encoder {
    explicit Encoder(const char* name) {
        const AVCodec* codec = av::avcodec_find_encoder_by_name(name);
        EXPECT_NE(codec, nullptr) << name;
        context = av::avcodec_alloc_context3(codec);
    }
    ~Encoder() { av::avcodec_free_context(&context); }
    AVCodecContext* context = nullptr;
};

// A real muxer context, freed with the test.
struct Muxer {
    explicit Muxer(const char* format) {
        EXPECT_GE(av::avformat_alloc_output_context2(&context, nullptr, format, nullptr), 0);
    }
    ~Muxer() { av::avformat_free_context(context); }
    AVFormatContext* context = nullptr;
};

constexpr int kVideoEncoding = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM;
constexpr int kAudioEncoding = AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM;

class OptionGenericTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        savedLibraryLevel = av::av_log_get_level();
        savedGlobal = GlobalVerbose();
        session.InitSession();
    }
    void TearDown() override {
        av::av_log_set_level(savedLibraryLevel);
        mobivert::binding::RefreshCachedLogLevel();
        SetGlobalVerbose(savedGlobal);
    }

    AVCodecContext* Holder(AVMediaType type) { return session.CodecOptContexts[type]; }

    TCustomFFmpeg session;
    int savedLibraryLevel = 0;
    int savedGlobal = 0;
};

TEST_F(OptionGenericTest, EmptyNameOrValueChangesNothing) {
    EXPECT_FALSE(session.SetGenericOption(" \t", "1000"));
    EXPECT_FALSE(session.SetGenericOption("b", " \r\n"));
    EXPECT_FALSE(session.SetGenericOption("", ""));
    EXPECT_TRUE(session.CodecOptNames.empty());
    EXPECT_EQ(session.OptNameCount, 0);
}

TEST_F(OptionGenericTest, EveryMediaTypeWhoseMaskMatchesTakesTheValue) {
    // "b" is a video and audio option: the data and attachment holders (no mask) take it too,
    // the subtitle holder keeps its default.
    int64_t subtitleDefault = Holder(AVMEDIA_TYPE_SUBTITLE)->bit_rate;
    ASSERT_NE(subtitleDefault, 300000);
    ASSERT_TRUE(session.SetGenericOption("b", "300000"));
    EXPECT_EQ(Holder(AVMEDIA_TYPE_VIDEO)->bit_rate, 300000);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_AUDIO)->bit_rate, 300000);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_DATA)->bit_rate, 300000);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_ATTACHMENT)->bit_rate, 300000);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_SUBTITLE)->bit_rate, subtitleDefault);

    // An audio-only option stays out of the video holder.
    ASSERT_TRUE(session.SetGenericOption("ar", "22050"));
    EXPECT_EQ(Holder(AVMEDIA_TYPE_AUDIO)->sample_rate, 22050);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_VIDEO)->sample_rate, 0);
    EXPECT_THAT(session.CodecOptNames, ElementsAre("b", "ar"));
    EXPECT_EQ(session.OptNameCount, 2);
}

TEST_F(OptionGenericTest, ContainerAndScalerHoldersComeNext) {
    ASSERT_TRUE(session.SetGenericOption("packetsize", "2048"));
    EXPECT_EQ(session.FormatOptContext->packet_size, 2048u);
    ASSERT_TRUE(session.SetGenericOption("sws_flags", "bilinear"));
    EXPECT_EQ(IntOption(session.ScalerOptContext, "sws_flags"), SWS_BILINEAR);
    EXPECT_THAT(session.CodecOptNames, ElementsAre("packetsize", "sws_flags"));
}

TEST_F(OptionGenericTest, TypeLetterPrefixReachesTheTypesOwnOption) {
    ASSERT_TRUE(session.SetGenericOption("ab", "64000"));
    ASSERT_TRUE(session.SetGenericOption("vb", "500000"));
    ASSERT_TRUE(session.SetGenericOption("abt", "4000"));
    EXPECT_EQ(Holder(AVMEDIA_TYPE_AUDIO)->bit_rate, 64000);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_VIDEO)->bit_rate, 500000);
    EXPECT_EQ(Holder(AVMEDIA_TYPE_AUDIO)->bit_rate_tolerance, 4000);
    EXPECT_NE(Holder(AVMEDIA_TYPE_VIDEO)->bit_rate_tolerance, 4000);
    // The list holds the options' own names ("ab" is still an audio option of its own, "vb"
    // and "abt" are not), a name set twice twice.
    ASSERT_TRUE(session.SetGenericOptionInt("ab", 96000));
    EXPECT_THAT(session.CodecOptNames, ElementsAre("ab", "b", "bt", "ab"));
    EXPECT_EQ(Holder(AVMEDIA_TYPE_AUDIO)->bit_rate, 96000);
}

TEST_F(OptionGenericTest, UnknownNamesAndRefusedValuesAreDropped) {
    EXPECT_FALSE(session.SetGenericOption("nosuchoption", "1"));
    EXPECT_FALSE(session.SetGenericOption("vnosuch", "1"));
    EXPECT_FALSE(session.SetGenericOption("b", "fast"));
    EXPECT_FALSE(session.SetGenericOption("muxrate", "fast"));
    EXPECT_FALSE(session.SetGenericOption("flags", "+nosuchflag"));
    EXPECT_TRUE(session.CodecOptNames.empty());
    EXPECT_TRUE(session.PrivateOptionValues.empty());
    // Through the option table, the same names are dropped without a refusal.
    EXPECT_NO_THROW(session.ApplyOptionText("nosuchoption=1\nmuxrate=fast"));
}

TEST_F(OptionGenericTest, DebugFlagsRaiseTheVerbosity) {
    ASSERT_TRUE(session.SetGenericOption("bufsize", "1000"));
    EXPECT_EQ(session.Verbose, 1);
    ASSERT_TRUE(session.SetGenericOption("debug", "pict"));
    EXPECT_EQ(session.Verbose, 2);
    EXPECT_EQ(GlobalVerbose(), 2);
    EXPECT_EQ(av::av_log_get_level(), 2);

    TCustomFFmpeg other;
    other.InitSession();
    ASSERT_TRUE(other.SetGenericOption("fdebug", "ts"));
    EXPECT_EQ(other.Verbose, 2);
}

TEST_F(OptionGenericTest, ContextOptionsCopyOnlyOptionsWithEveryRequestedFlag) {
    ASSERT_TRUE(session.SetGenericOption("b", "123456"));
    ASSERT_TRUE(session.SetGenericOption("ar", "22050"));
    ASSERT_TRUE(session.SetGenericOption("flags", "+qscale+global_header"));

    Encoder encoder("mp2");
    session.SetContextOptions(encoder.context, Holder(AVMEDIA_TYPE_AUDIO), kAudioEncoding);
    EXPECT_EQ(encoder.context->bit_rate, 123456);
    EXPECT_EQ(encoder.context->sample_rate, 22050);
    EXPECT_TRUE(encoder.context->flags & AV_CODEC_FLAG_GLOBAL_HEADER);

    // A decoder takes the decoding options only: the bit rate is not one of them.
    const AVCodec* codec = av::avcodec_find_decoder_by_name("mp2");
    AVCodecContext* decoder = av::avcodec_alloc_context3(codec);
    session.SetContextOptions(decoder, Holder(AVMEDIA_TYPE_AUDIO),
                              AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
    EXPECT_NE(decoder->bit_rate, 123456);
    EXPECT_EQ(decoder->sample_rate, 22050);
    av::avcodec_free_context(&decoder);

    // The container holder's options reach a real muxer.
    ASSERT_TRUE(session.SetGenericOption("packetsize", "4096"));
    Muxer muxer("mpeg");
    session.SetContextOptions(muxer.context, session.FormatOptContext, AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(muxer.context->packet_size, 4096u);

    // Nothing happens without a target or a source.
    EXPECT_NO_THROW(session.SetContextOptions(nullptr, Holder(AVMEDIA_TYPE_AUDIO), 0));
    EXPECT_NO_THROW(session.SetContextOptions(encoder.context, nullptr, 0));
}

TEST_F(OptionGenericTest, OldNamesReachTheirSuccessors) {
    // "gop" is the encoders' "g".
    ASSERT_TRUE(session.SetGenericOption("gop", "18"));
    EXPECT_EQ(Holder(AVMEDIA_TYPE_VIDEO)->gop_size, 18);
    // "muxrate" is a private option of the MPEG program stream muxers.
    ASSERT_TRUE(session.SetGenericOptionInt("muxrate", 10080000));
    // "scan_offset" left the codec flags for the MPEG-2 encoder's private options.
    ASSERT_TRUE(session.SetGenericOption("flags", "+scan_offset+qscale"));
    EXPECT_THAT(session.CodecOptNames, ElementsAre("g", "muxrate", "flags", "scan_offset"));
    EXPECT_TRUE(Holder(AVMEDIA_TYPE_VIDEO)->flags & AV_CODEC_FLAG_QSCALE);

    Encoder mpeg2("mpeg2video");
    session.SetContextOptions(mpeg2.context, Holder(AVMEDIA_TYPE_VIDEO), kVideoEncoding);
    EXPECT_EQ(mpeg2.context->gop_size, 18);
    EXPECT_EQ(IntOption(mpeg2.context, "scan_offset"), 1);
    EXPECT_TRUE(mpeg2.context->flags & AV_CODEC_FLAG_QSCALE);

    // An encoder without the private option simply does not get it.
    Encoder mpeg4("mpeg4");
    session.SetContextOptions(mpeg4.context, Holder(AVMEDIA_TYPE_VIDEO), kVideoEncoding);
    EXPECT_EQ(mpeg4.context->gop_size, 18);

    Muxer dvd("dvd");
    session.SetContextOptions(dvd.context, session.FormatOptContext, AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(IntOption(dvd.context, "muxrate"), 10080000);
    Muxer ts("mpegts");
    session.SetContextOptions(ts.context, session.FormatOptContext, AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(IntOption(ts.context, "muxrate"), 10080000);

    // The latest value wins, and "-scan_offset" clears it again.
    ASSERT_TRUE(session.SetGenericOption("muxrate", "1411200"));
    ASSERT_TRUE(session.SetGenericOption("flags", "-scan_offset"));
    Muxer vcd("vcd");
    session.SetContextOptions(vcd.context, session.FormatOptContext, AV_OPT_FLAG_ENCODING_PARAM);
    EXPECT_EQ(IntOption(vcd.context, "muxrate"), 1411200);
    Encoder again("mpeg2video");
    session.SetContextOptions(again.context, Holder(AVMEDIA_TYPE_VIDEO), kVideoEncoding);
    EXPECT_EQ(IntOption(again.context, "scan_offset"), 0);
}

TEST_F(OptionGenericTest, QualityAndSpeedReachTheEncoderThatKnowsThem) {
    // One owner taking the value is enough; a value no owner takes is refused.
    ASSERT_TRUE(session.SetGenericOption("crf", "30"));
    ASSERT_TRUE(session.SetGenericOption("preset", "veryfast"));
    ASSERT_TRUE(session.SetGenericOption("cpu-used", "8"));
    EXPECT_FALSE(session.SetGenericOption("crf", "fine"));
    Encoder x264("libx264");
    session.SetContextOptions(x264.context, Holder(AVMEDIA_TYPE_VIDEO), kVideoEncoding);
    for (auto [name, value] : {std::pair{"preset", "veryfast"}, std::pair{"crf", "30.000000"}}) {
        uint8_t* text = nullptr;
        ASSERT_GE(av::av_opt_get(x264.context, name, AV_OPT_SEARCH_CHILDREN, &text), 0);
        EXPECT_STREQ(reinterpret_cast<char*>(text), value);
        av::av_free(text);
    }
    Encoder vp9("libvpx-vp9");
    session.SetContextOptions(vp9.context, Holder(AVMEDIA_TYPE_VIDEO), kVideoEncoding);
    EXPECT_EQ(IntOption(vp9.context, "crf"), 30);
    EXPECT_EQ(IntOption(vp9.context, "cpu-used"), 8);
}

TEST_F(OptionGenericTest, FindCodecByNameTypeAndDirection) {
    AVCodecID id = AV_CODEC_ID_MP2;
    EXPECT_TRUE(session.FindCodec("", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_TRUE(session.FindCodec("mpeg4", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_MPEG4);
    EXPECT_TRUE(session.FindCodec("h264", AVMEDIA_TYPE_VIDEO, false, id));
    EXPECT_EQ(id, AV_CODEC_ID_H264);

    EXPECT_FALSE(session.FindCodec("nosuchcodec", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(session.SetupError, "Unknown encoder 'nosuchcodec'");
    EXPECT_FALSE(session.FindCodec("nosuchcodec", AVMEDIA_TYPE_AUDIO, false, id));
    EXPECT_EQ(session.SetupError, "Unknown decoder 'nosuchcodec'");
    EXPECT_FALSE(session.FindCodec("mp2", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(session.SetupError, "Invalid encoder type 'mp2'");
    EXPECT_FALSE(session.FindCodec("h264", AVMEDIA_TYPE_AUDIO, false, id));
    EXPECT_EQ(session.SetupError, "Invalid decoder type 'h264'");
}

TEST_F(OptionGenericTest, WithoutOptionHoldersNothingIsSet) {
    TCustomFFmpeg bare; // never initialised: no holders
    EXPECT_FALSE(bare.SetGenericOption("b", "1000"));
    EXPECT_NO_THROW(bare.ApplyOptionText("b=1000\nab=64\ngop=12"));
    EXPECT_TRUE(bare.CodecOptNames.empty());
}

} // namespace
