// The options with rules of their own, grouped by handler: formats, maps, timestamp scales,
// verbosity, bit rates, frame rate and size, crop, pad and pad colour, aspect ratio, pixel and
// sample formats, quantiser, codec names, two-pass, statistics file, matrices, tags, audio rate
// and channels, bitstream filters.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/options/MatrixParser.h"
#include "engine/session/AssertionFailure.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace mobivert::engine;
using mobivert::test::Fixture;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

struct LogLine {
    int level;
    std::string text;
};

class OptionHandlersTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        savedLibraryLevel = av::av_log_get_level();
        savedGlobal = GlobalVerbose();
        session.InitSession();
        session.OnLog = [this](TCustomFFmpeg&, int level, const std::string& text) {
            log.push_back({level, text});
        };
    }
    void TearDown() override {
        av::av_log_set_level(savedLibraryLevel);
        mobivert::binding::RefreshCachedLogLevel();
        SetGlobalVerbose(savedGlobal);
    }

    std::string Refusal(const std::string& text) {
        try {
            session.ApplyOptionText(text);
        } catch (const FFMpegException& e) {
            return e.what();
        }
        return "";
    }

    std::string Matrix(int count, const std::string& separator = ",") {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += (i ? separator : "") + std::to_string(8 + i);
        return text;
    }

    TCustomFFmpeg session;
    std::vector<LogLine> log;
    int savedLibraryLevel = 0;
    int savedGlobal = 0;
};

TEST_F(OptionHandlersTest, FormatsForceBothSidesAndPgmyuvBecomesImage2) {
    session.ApplyOptionText("f=pgmyuv");
    ASSERT_NE(session.ForcedInputFormat, nullptr);
    ASSERT_NE(session.ForcedOutputFormat, nullptr);
    EXPECT_STREQ(session.ForcedInputFormat->name, "image2");
    EXPECT_STREQ(session.ForcedOutputFormat->name, "image2");
    EXPECT_EQ(session.PgmyuvCompat, 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].level, 1);
    EXPECT_EQ(log[0].text, "pgmyuv format is deprecated, use image2");

    // A muxer-only name forces the output and clears the input.
    session.ApplyOptionText("f=vcd");
    EXPECT_EQ(session.ForcedInputFormat, nullptr);
    ASSERT_NE(session.ForcedOutputFormat, nullptr);
    EXPECT_STREQ(session.ForcedOutputFormat->name, "vcd");
    EXPECT_EQ(Refusal("f=nosuchformat"), "Unknown input or output format: nosuchformat");
    EXPECT_EQ(session.ForcedOutputFormat, nullptr);
    session.ApplyOptionText("f=vcd\nf=");
    ASSERT_NE(session.ForcedOutputFormat, nullptr);
    EXPECT_STREQ(session.ForcedOutputFormat->name, "vcd");

    session.SetInputFormat("wav");
    ASSERT_NE(session.ForcedInputFormat, nullptr);
    EXPECT_STREQ(session.ForcedInputFormat->name, "wav");
    session.SetOutputFormat("");
    session.SetInputFormat("");
    EXPECT_STREQ(session.ForcedInputFormat->name, "wav");
    EXPECT_THROW(
        {
            try {
                session.SetInputFormat("vcd");
            } catch (const FFMpegException& e) {
                EXPECT_STREQ(e.what(), "Unknown input format: vcd");
                throw;
            }
        },
        FFMpegException);
    EXPECT_THROW(
        {
            try {
                session.SetOutputFormat("nosuch");
            } catch (const FFMpegException& e) {
                EXPECT_STREQ(e.what(), "Unknown output format: nosuch");
                throw;
            }
        },
        FFMpegException);
}

TEST_F(OptionHandlersTest, StreamAndMetaDataMaps) {
    session.ApplyOptionText("map=0.1\nmap=0:1:1:0\nmap=0x1:010\nmap=2\nmap=3:4:5");
    ASSERT_EQ(session.StreamMapCount, 5);
    auto expect = [&](int i, int file, int stream, int syncFile, int syncStream) {
        const StreamMap& m = session.StreamMaps[i];
        EXPECT_EQ(m.FileIndex, file) << i;
        EXPECT_EQ(m.StreamIndex, stream) << i;
        EXPECT_EQ(m.SyncFileIndex, syncFile) << i;
        EXPECT_EQ(m.SyncStreamIndex, syncStream) << i;
    };
    expect(0, 0, 1, 0, 1);
    expect(1, 0, 1, 1, 0);
    expect(2, 1, 8, 1, 8); // base 0: hexadecimal and octal
    expect(3, 2, 0, 2, 0); // the text ends after the first number
    expect(4, 3, 4, 5, 0); // a sync file without a sync stream

    session.ApplyOptionText("map_meta_data=1:0\nmap_meta_data=2");
    ASSERT_EQ(session.MetaDataMapCount, 2);
    EXPECT_EQ(session.MetaDataMaps[0].OutFile, 1);
    EXPECT_EQ(session.MetaDataMaps[0].InFile, 0);
    EXPECT_EQ(session.MetaDataMaps[1].OutFile, 2);
    EXPECT_EQ(session.MetaDataMaps[1].InFile, 0);
}

TEST_F(OptionHandlersTest, InputTimestampScalesBelongToTheNextInput) {
    EXPECT_EQ(Refusal("itsscale=20:2"), "stream index over MAX_STREAMS(20)");
    session.ApplyOptionText("itsscale=1:0.5\nitsscale=19:3");
    EXPECT_DOUBLE_EQ(session.InputTsScales[0][1], 0.5);
    EXPECT_DOUBLE_EQ(session.InputTsScales[0][19], 3.0);

    AVFormatContext* input = nullptr;
    ASSERT_EQ(av::avformat_open_input(&input, Fixture("mono8k.wav").c_str(), nullptr, nullptr), 0);
    session.InputFiles[session.InputFileCount++] = input;
    session.ApplyOptionText("itsscale=0x1:2.5");
    EXPECT_DOUBLE_EQ(session.InputTsScales[1][1], 2.5);
    EXPECT_DOUBLE_EQ(session.InputTsScales[0][1], 0.5);

    // With every input slot taken there is no next input to scale.
    session.InputFileCount = MAX_FILES;
    EXPECT_EQ(Refusal("itsscale=1:2"), "Too many input files: at most 20 are possible");
    session.InputFileCount = 1;
}

TEST_F(OptionHandlersTest, VerbosityIsSharedWithTheLibrary) {
    session.ApplyOptionText("v=0");
    EXPECT_EQ(session.Verbose, 0);
    EXPECT_EQ(GlobalVerbose(), 0);
    EXPECT_EQ(av::av_log_get_level(), 0);
    EXPECT_EQ(mobivert::binding::CachedLogLevel(), 0);
    session.ApplyOptionText("v=3");
    EXPECT_EQ(av::av_log_get_level(), 3);
}

TEST_F(OptionHandlersTest, BitRatesWarnWhenTheyLookLikeKilobits) {
    const std::string warning = "WARNING: The bitrate parameter is set too low. It takes bits/s "
                                "as argument, not kbits/s";
    session.ApplyOptionText("ab=64");
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_AUDIO]->bit_rate, 64);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].level, 1);
    EXPECT_EQ(log[0].text, warning);

    log.clear();
    session.ApplyOptionText("ab=64000");
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_AUDIO]->bit_rate, 64000);
    session.ApplyOptionText("b=200k");
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_VIDEO]->bit_rate, 200000);

    // The video holder is read back for "b" and "vb"; a refused value warns about nothing.
    session.ApplyOptionText("vb=500\nb=nonsense");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_VIDEO]->bit_rate, 500);
    // 0 asks for no bit rate at all (constant quality): nothing was meant as kbit/s.
    session.ApplyOptionText("b=0");
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(session.CodecOptContexts[AVMEDIA_TYPE_VIDEO]->bit_rate, 0);
}

TEST_F(OptionHandlersTest, FrameRateAndSize) {
    session.ApplyOptionText("r=30000/1001");
    EXPECT_EQ(session.FrameRate.num, 30000);
    EXPECT_EQ(session.FrameRate.den, 1001);
    session.ApplyOptionText("r=pal\nr=");
    EXPECT_EQ(session.FrameRate.num, 25);
    EXPECT_EQ(session.FrameRate.den, 1);
    EXPECT_EQ(Refusal("r=fast"), "Incorrect frame rate");
    EXPECT_EQ(Refusal("r=-25"), "Incorrect frame rate");

    session.ApplyOptionText("s=vga");
    EXPECT_EQ(session.FrameWidth, 640);
    EXPECT_EQ(session.FrameHeight, 480);
    EXPECT_EQ(Refusal("s=big"), "Incorrect frame size");
    EXPECT_EQ(Refusal("s=0x240"), "Incorrect frame size");
    EXPECT_EQ(Refusal("s=321x240"), "Frame size must be a multiple of 2");
    EXPECT_EQ(session.FrameWidth, 321);
    EXPECT_EQ(session.FrameHeight, 240);
}

TEST_F(OptionHandlersTest, CropNeedsASizeAndEvenBandsInsideIt) {
    EXPECT_EQ(Refusal("croptop=10"), "Vertical crop dimensions are outside the range of the "
                                     "original image.\nRemember to crop first and scale second.");
    EXPECT_EQ(Refusal("cropleft=0"), "Horizontal crop dimensions are outside the range of the "
                                     "original image.\nRemember to crop first and scale second.");
    session.ApplyOptionText("croptop=-2");
    EXPECT_EQ(session.FrameTopBand, 0);
    EXPECT_EQ(Refusal("croptop=3"), "Top crop size must be a multiple of 2");
    EXPECT_EQ(Refusal("cropbottom=5"), "Bottom crop size must be a multiple of 2");
    EXPECT_EQ(Refusal("cropleft=7"), "Left crop size must be a multiple of 2");
    EXPECT_EQ(Refusal("cropright=9"), "Right crop size must be a multiple of 2");

    session.ApplyOptionText("s=320x240\ncroptop=10\ncropbottom=20\ncropleft=4\ncropright=6");
    EXPECT_EQ(session.FrameTopBand, 10);
    EXPECT_EQ(session.FrameBottomBand, 20);
    EXPECT_EQ(session.FrameLeftBand, 4);
    EXPECT_EQ(session.FrameRightBand, 6);
    EXPECT_EQ(session.FrameHeight, 210);
    EXPECT_EQ(session.FrameWidth, 310);
    // The band must leave at least one line: the remaining size is the limit.
    EXPECT_THAT(Refusal("cropbottom=210"), StartsWith("Vertical crop dimensions"));
    EXPECT_THAT(Refusal("cropright=310"), StartsWith("Horizontal crop dimensions"));
    session.ApplyOptionText("cropbottom=208");
    EXPECT_EQ(session.FrameHeight, 2);
}

TEST_F(OptionHandlersTest, PadSizesAndPadColour) {
    EXPECT_EQ(Refusal("padtop=3"), "Top pad size must be a multiple of 2");
    EXPECT_EQ(Refusal("padbottom=1"), "Bottom pad size must be a multiple of 2");
    EXPECT_EQ(Refusal("padleft=5"), "Left pad size must be a multiple of 2");
    EXPECT_EQ(Refusal("padright=7"), "Right pad size must be a multiple of 2");
    session.ApplyOptionText("padtop=2\npadbottom=4\npadleft=-1\npadright=8");
    EXPECT_EQ(session.FramePadTop, 2);
    EXPECT_EQ(session.FramePadBottom, 4);
    EXPECT_EQ(session.FramePadLeft, 0);
    EXPECT_EQ(session.FramePadRight, 8);

    using YUV = std::array<int32_t, 3>;
    session.ApplyOptionText("padcolor=255"); // red
    EXPECT_EQ(session.PadColor, (YUV{76, 85, 255}));
    session.ApplyOptionText("padcolor=0");
    EXPECT_EQ(session.PadColor, (YUV{0, 128, 128}));
    // Blue: the negative V sum is rounded down, not towards zero.
    session.ApplyOptionText("padcolor=$FF0000");
    EXPECT_EQ(session.PadColor, (YUV{29, 255, 107}));
    session.SetPadColor(0x00FF00); // green
    EXPECT_EQ(session.PadColor, (YUV{150, 43, 21}));
}

TEST_F(OptionHandlersTest, AspectRatio) {
    session.ApplyOptionText("aspect=16:9");
    EXPECT_NEAR(session.FrameAspectRatio, 1.7778f, 1e-4);
    session.ApplyOptionText("aspect=1.3333");
    EXPECT_FLOAT_EQ(session.FrameAspectRatio, 1.3333f);
    session.ApplyOptionText("aspect=-4:3");
    EXPECT_NEAR(session.FrameAspectRatio, -1.3333f, 1e-4);
    session.ApplyOptionText("aspect=");
    EXPECT_NEAR(session.FrameAspectRatio, -1.3333f, 1e-4);
    for (const char* bad :
         {"aspect=4:0", "aspect=abc", "aspect=4:-3", "aspect=x:3", "aspect=0", "aspect=1e99"})
        EXPECT_EQ(Refusal(bad), "Incorrect aspect ratio specification.") << bad;
    EXPECT_NEAR(session.FrameAspectRatio, -1.3333f, 1e-4);
}

TEST_F(OptionHandlersTest, PixelAndSampleFormats) {
    session.ApplyOptionText("pix_fmt=yuv422p\nsample_fmt=s16");
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(session.AudioSampleFmt, AV_SAMPLE_FMT_S16);
    session.ApplyOptionText("pix_fmt=nosuch\nsample_fmt=nosuch");
    EXPECT_EQ(session.FramePixFmt, -1);
    EXPECT_EQ(session.AudioSampleFmt, -1);

    // "list" only logs a header and one line per format.
    session.ApplyOptionText("pix_fmt=yuv420p\npix_fmt=list");
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_YUV420P);
    int pixelFormats = 0;
    while (av::av_pix_fmt_desc_get(AVPixelFormat(pixelFormats)))
        ++pixelFormats;
    ASSERT_EQ(log.size(), size_t(pixelFormats) + 1);
    EXPECT_THAT(log[0].text, StartsWith("name"));
    EXPECT_THAT(log[1].text, StartsWith("yuv420p"));
    EXPECT_NE(log.back().text.back(), ' ');
    log.clear();
    session.ApplyOptionText("sample_fmt=list");
    ASSERT_EQ(log.size(), size_t(AV_SAMPLE_FMT_NB) + 1);
    EXPECT_THAT(log[1].text, StartsWith("u8"));
    EXPECT_EQ(session.AudioSampleFmt, -1);
}

TEST_F(OptionHandlersTest, QuantiserBounds) {
    session.ApplyOptionText("qscale=255");
    EXPECT_FLOAT_EQ(session.VideoQScale, 255.0f);
    session.ApplyOptionText("qscale=0.5");
    EXPECT_FLOAT_EQ(session.VideoQScale, 0.5f);
    for (const char* bad : {"qscale=0", "qscale=255.5", "qscale=-1"})
        EXPECT_EQ(Refusal(bad), "qscale must be > 0.0 and <= 255") << bad;
    EXPECT_FLOAT_EQ(session.VideoQScale, 0.5f);
}

TEST_F(OptionHandlersTest, CodecNamesAndStreamCopy) {
    session.ApplyOptionText("vcodec=copy\nvcodec=mpeg4");
    EXPECT_EQ(session.VideoStreamCopy, 1);
    EXPECT_EQ(session.VideoCodecName, "mpeg4");
    session.ApplyOptionText("acodec=mp2\nacodec=copy\nscodec=copy\nvcodec=");
    EXPECT_EQ(session.AudioStreamCopy, 1);
    EXPECT_EQ(session.AudioCodecName, "");
    EXPECT_EQ(session.SubtitleStreamCopy, 1);
    EXPECT_EQ(session.VideoCodecName, "mpeg4");
    // Names are checked only when a stream uses them.
    session.ApplyOptionText("acodec=nosuchcodec");
    EXPECT_EQ(session.AudioCodecName, "nosuchcodec");
}

TEST_F(OptionHandlersTest, TwoPassAndStatisticsFile) {
    EXPECT_EQ(Refusal("pass=3"), "pass number can be only 1 or 2");
    EXPECT_EQ(Refusal("pass=0"), "pass number can be only 1 or 2");
    session.ApplyOptionText("pass=2");
    EXPECT_EQ(session.DoPass, 2);

    session.ApplyOptionText("vstats");
    std::filesystem::path stats(session.VStatsFileName);
    std::string name = stats.filename().string();
    EXPECT_TRUE(stats.is_absolute()) << session.VStatsFileName;
    ASSERT_EQ(name.size(), std::string("vstats_hhnnss.log").size()) << name;
    EXPECT_EQ(name.substr(0, 7), "vstats_");
    EXPECT_EQ(name.substr(13), ".log");
    EXPECT_EQ(name.find_first_not_of("0123456789", 7), 13u) << name;
    std::string folder = std::filesystem::path(session.VStatsFileName).parent_path().string();
    EXPECT_EQ(access(folder.c_str(), W_OK), 0) << folder;
    session.ApplyOptionText("vstats_file=mine.log");
    EXPECT_EQ(session.VStatsFileName, "mine.log");
}

TEST_F(OptionHandlersTest, QuantiserMatrices) {
    std::string full = Matrix(64);
    session.ApplyOptionText("intra_matrix=" + full);
    ASSERT_EQ(session.IntraMatrix.size(), 64u);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(session.IntraMatrix[i], 8 + i);
    session.ApplyOptionText("inter_matrix= 16," + Matrix(64, ", "));
    ASSERT_EQ(session.InterMatrix.size(), 64u);
    EXPECT_EQ(session.InterMatrix[0], 16);
    EXPECT_EQ(session.InterMatrix[63], 8 + 62);

    std::string short63 = Matrix(63);
    EXPECT_EQ(Refusal("intra_matrix=" + short63),
              "Syntax error in matrix \"" + short63 + "\" at coeff 62");
    EXPECT_EQ(Refusal("inter_matrix=abc"), "Syntax error in matrix \"abc\" at coeff 0");
    // A failed matrix leaves the previous one in place.
    EXPECT_EQ(session.IntraMatrix[0], 8);

    // Zero would divide by zero in the MPEG encoders, and more than 255 does not fit the
    // stream's 8-bit coefficients.
    std::string zero = "0," + Matrix(63);
    EXPECT_EQ(Refusal("intra_matrix=" + zero),
              "Invalid coefficient 0 in matrix \"" + zero + "\" at coeff 0: it must be 1 to 255");
    std::string large = Matrix(10) + ",256," + Matrix(53);
    EXPECT_THAT(Refusal("inter_matrix=" + large), HasSubstr("Invalid coefficient 256"));
    EXPECT_THAT(Refusal("inter_matrix=" + large), HasSubstr("at coeff 10"));
    EXPECT_EQ(session.InterMatrix[0], 16);
}

TEST_F(OptionHandlersTest, CodecTagsAreFourCharacters) {
    // Control bytes inside the text are kept (only the text's two ends are trimmed).
    session.ApplyOptionText("atag=\xff\x01\x02\x03\nvtag=DIVX");
    EXPECT_EQ(session.VideoCodecTag, 0x58564944);
    EXPECT_EQ(static_cast<uint32_t>(session.AudioCodecTag), 0x030201ffu);
    session.ApplyOptionText("vtag=");
    EXPECT_EQ(session.VideoCodecTag, 0x58564944);

    try {
        session.ApplyOptionText("vtag=DIV");
        ADD_FAILURE() << "a 3-character tag was taken";
    } catch (const EAssertionFailed& e) {
        EXPECT_THAT(e.what(), StartsWith("video tag parameter must be 4 chars ("));
        EXPECT_THAT(e.what(), HasSubstr(", line "));
    }
    EXPECT_THAT(Refusal("atag=12345"), StartsWith("audio tag parameter must be 4 chars"));
}

TEST_F(OptionHandlersTest, AudioRateAndChannelsIgnoreNonPositiveNumbers) {
    session.ApplyOptionText("ar=22050\nac=6\nar=0\nac=-1");
    EXPECT_EQ(session.AudioSampleRate, 22050);
    EXPECT_EQ(session.AudioChannels, 6);
}

TEST_F(OptionHandlersTest, BitstreamFiltersChainPerType) {
    session.ApplyOptionText("vbsf=h264_mp4toannexb\nvbsf=dump_extra=freq=k\nabsf=aac_adtstoasc\n"
                            "sbsf=null\nvbsf==x\nabsf=");
    EXPECT_EQ(session.VideoBitstreamFilters, "h264_mp4toannexb,dump_extra");
    EXPECT_EQ(session.AudioBitstreamFilters, "aac_adtstoasc");
    EXPECT_EQ(session.SubtitleBitstreamFilters, "null");
    EXPECT_EQ(Refusal("vbsf=nosuchfilter \t"), "Unknown bitstream filter nosuchfilter");
    EXPECT_EQ(session.VideoBitstreamFilters, "h264_mp4toannexb,dump_extra");

    // The chain is in the form the stream creation hands to FFmpeg.
    AVBSFContext* chain = nullptr;
    ASSERT_GE(av::av_bsf_list_parse_str(session.VideoBitstreamFilters.c_str(), &chain), 0);
    av::av_bsf_free(&chain);
}

} // namespace
