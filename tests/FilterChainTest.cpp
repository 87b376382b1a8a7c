// The video filter chain: pictures mirrored, flipped, delayed and re-timed by a user's chain;
// the automatic "scale"; the refusals of cropping and of resizing chains with padding; the
// encoder size that follows the chain; and the graph's make-up, checked on the graph itself.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVLibs.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaInfo.h"
#include "support/MediaReader.h"
#include "support/PictureReader.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

constexpr const char* PadRefusal = "Cannot enable pad options and the filters which resize frame "
                                   "at the same time. (crop, rotate, scale, transpose, etc.)";

// Mean absolute luma difference between picture a and picture b read through a mapping of
// a's coordinates onto b's.
template <typename Map> double Difference(const Picture& a, const Picture& b, Map map) {
    double sum = 0;
    for (int y = 0; y < a.Height; ++y)
        for (int x = 0; x < a.Width; ++x) {
            auto [bx, by] = map(x, y);
            sum += std::abs(a.LumaAt(x, y) - b.LumaAt(bx, by));
        }
    return sum / (static_cast<double>(a.Width) * a.Height);
}

class FilterChainTest : public mobivert::test::LibrariesTest {
protected:
    std::unique_ptr<EngineRun> Convert(const std::string& input, const std::string& output,
                                       const std::string& options) {
        auto run = std::make_unique<EngineRun>();
        EXPECT_TRUE(run->AddInput(input)) << run->Error();
        EXPECT_TRUE(run->SetOutput(output, options)) << run->Error();
        run->Run();
        return run;
    }

    TempDir dir;
};

TEST_F(FilterChainTest, HorizontalFlipMirrorsThePicture) {
    std::string out = dir.File("mirrored.avi");
    auto run = Convert(Fixture("sar_8_9.mp4"), out, "vcodec=mpeg4\nqscale=2\nvfilters=hflip");
    ASSERT_FALSE(run->Failed()) << run->Error();
    DecodedVideo video = DecodeVideo(out, 3);
    DecodedVideo source = DecodeVideo(Fixture("sar_8_9.mp4"), 3);
    ASSERT_EQ(video.Width, 640);
    ASSERT_EQ(video.Height, 480);
    EXPECT_EQ(video.DecodedCount, 25);
    const Picture& picture = video.Pictures[1];
    const Picture& original = source.Pictures[1];
    double mirrored = Difference(picture, original, [](int x, int y) {
        return std::pair{639 - x, y};
    });
    double straight = Difference(picture, original, [](int x, int y) { return std::pair{x, y}; });
    EXPECT_LT(mirrored, 1.5);
    EXPECT_GT(straight, 20.0);
    EXPECT_TRUE(PlaysInGStreamer(out));
}

TEST_F(FilterChainTest, SizeChangeScalesBeforeTheChainAndTheEncoderGetsTheSize) {
    std::string out = dir.File("small-mirrored.avi");
    auto run =
        Convert(Fixture("sar_8_9.mp4"), out, "vcodec=mpeg4\nqscale=2\ns=320x240\nvfilters=hflip");
    ASSERT_FALSE(run->Failed()) << run->Error();
    DecodedVideo video = DecodeVideo(out, 2);
    DecodedVideo source = DecodeVideo(Fixture("sar_8_9.mp4"), 2);
    ASSERT_EQ(video.Width, 320);
    ASSERT_EQ(video.Height, 240);
    EXPECT_EQ(MediaInfoVideo(out).Width, 320);
    // Pixel (x, y) shows the source around (2 (319 - x), 2 y), away from the bars' edges.
    double mirrored = Difference(video.Pictures[1], source.Pictures[1], [](int x, int y) {
        return std::pair{2 * (319 - x) + 1, 2 * y + 1};
    });
    EXPECT_LT(mirrored, 6.0);
}

TEST_F(FilterChainTest, ChainThatChangesTheSizeSetsTheEncoderSize) {
    std::string out = dir.File("turned.avi");
    auto run = Convert(Fixture("sar_8_9.mp4"), out, "vcodec=mpeg4\nvfilters=transpose=1");
    ASSERT_FALSE(run->Failed()) << run->Error();
    DecodedVideo video = DecodeVideo(out, 1);
    EXPECT_EQ(video.Width, 480);
    EXPECT_EQ(video.Height, 640);
    EXPECT_EQ(video.DecodedCount, 25);
}

TEST_F(FilterChainTest, FlipWithPaddingIsAcceptedAndTheBordersArePainted) {
    std::string out = dir.File("flipped-padded.avi");
    auto run = Convert(Fixture("sar_8_9.mp4"), out,
                       "vcodec=mpeg4\nqscale=2\nvfilters=vflip\npadtop=16\npadbottom=16\n"
                       "padcolor=255");
    ASSERT_FALSE(run->Failed()) << run->Error();
    DecodedVideo video = DecodeVideo(out, 2);
    DecodedVideo source = DecodeVideo(Fixture("sar_8_9.mp4"), 2);
    ASSERT_EQ(video.Width, 640);
    ASSERT_EQ(video.Height, 512);
    const Picture& picture = video.Pictures[1];
    for (int y : {0, 8, 15, 496, 511})
        for (int x : {0, 320, 639}) {
            EXPECT_NEAR(picture.LumaAt(x, y), 76, 3) << x << "," << y;
            EXPECT_NEAR(picture.UAt(x, y), 85, 3) << x << "," << y;
            EXPECT_NEAR(picture.VAt(x, y), 255, 3) << x << "," << y;
        }
    double flipped = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            flipped += std::abs(picture.LumaAt(x, y + 16) - source.Pictures[1].LumaAt(x, 479 - y));
    EXPECT_LT(flipped / (640.0 * 480), 1.5);
}

TEST_F(FilterChainTest, RefusalsOfCropAndOfResizingWithPadding) {
    struct Case {
        const char* options;
        const char* refusal;
    } cases[] = {
        {"vfilters=scale=320:240\npadtop=16", PadRefusal},
        {"vfilters=hflip,TRANSPOSE=1\npadleft=8", PadRefusal},
        {"vfilters=hflip\ncroptop=16", "Cannot enable crop options and filters at the same time."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture("sar_8_9.mp4"))) << run.Error();
        EXPECT_FALSE(
            run.SetOutput(dir.File("refused.avi"), std::string("vcodec=mpeg4\n") + c.options));
        EXPECT_EQ(run.Error(), c.refusal);
    }
}

TEST_F(FilterChainTest, ResizingFoundOnlyByTheGraphStopsTheRun) {
    // "pad" is not among the names known to resize, so the output is accepted; the graph then
    // gives a larger picture than the frame size.
    auto run = Convert(Fixture("sar_8_9.mp4"), dir.File("padded-twice.avi"),
                       "vcodec=mpeg4\nvfilters=pad=iw+32:ih\npadtop=16");
    EXPECT_TRUE(run->Failed());
    EXPECT_EQ(run->Error(), std::string("Error opening filters: ") + PadRefusal);
}

TEST_F(FilterChainTest, ChainThatCannotBeBuiltStopsTheRun) {
    auto run = Convert(Fixture("sar_8_9.mp4"), dir.File("unknown.avi"),
                       "vcodec=mpeg4\nvfilters=nosuchfilter");
    EXPECT_TRUE(run->Failed());
    EXPECT_EQ(run->Error(), "Error opening filters!");
}

TEST_F(FilterChainTest, PicturesHeldByTheChainComeOutAtTheEnd) {
    // yadif holds one picture back until the next arrives; the last one leaves at the flush.
    std::string out = dir.File("held.avi");
    auto run = Convert(Fixture("h264_aac.mp4"), out, "vcodec=mpeg4\nan\nvfilters=yadif");
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(DecodeVideo(out, 0).DecodedCount, 50);
}

TEST_F(FilterChainTest, PicturesKeepTheTimesTheChainGivesThem) {
    // The chain keeps 5 pictures a second; at 25 per second each is written five times and
    // the output lasts as long as the input.
    std::string out = dir.File("five.avi");
    auto run = Convert(Fixture("h264_aac.mp4"), out, "vcodec=mpeg4\nan\nvfilters=fps=5");
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_GE(run->Session.FramesDup, 35);
    DecodedVideo video = DecodeVideo(out, 0);
    EXPECT_NEAR(video.DecodedCount, 50, 5);
    const MediaSummary media = ReadMedia(out);
    const StreamSummary* stream = media.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(stream, nullptr);
    EXPECT_NEAR(stream->EndTime, 2.0, 0.2);
}

// ---- The graph itself, built for an opened input and an encoder context of the test's own

class FilterGraphTest : public FilterChainTest {
protected:
    void SetUp() override {
        FilterChainTest::SetUp();
        session.InitSession();
        ASSERT_TRUE(session.OpenInputFile(Fixture("sar_8_9.mp4"))) << session.SetupError;
        ist.St = session.InputFiles[0]->streams[0];
        ist.Dec = session.InputDecoders[0][0];
        encoder = av::avcodec_alloc_context3(nullptr);
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        ost.Enc = encoder;
    }
    void TearDown() override {
        // libavfilter is loaded with the first graph: a refused chain may leave it unloaded.
        if (ist.FilterGraph)
            av::avfilter_graph_free(&ist.FilterGraph);
        av::avcodec_free_context(&encoder);
    }

    // The filter instance whose input is the picture source, or none.
    const AVFilterContext* FirstAfterSource() const {
        const AVFilterContext* source = ist.InputVideoFilter;
        return source && source->nb_outputs && source->outputs[0] ? source->outputs[0]->dst
                                                                  : nullptr;
    }

    TCustomFFmpeg session;
    InputStream ist;
    OutputStream ost;
    AVCodecContext* encoder = nullptr;
};

TEST_F(FilterGraphTest, DifferentSizeInsertsScaleBetweenSourceAndChain) {
    session.VideoFilters = "hflip";
    encoder->width = 320;
    encoder->height = 240;
    ASSERT_TRUE(session.BuildFilterGraph(ist, ost)) << session.SetupError;
    const AVFilterContext* scale = FirstAfterSource();
    ASSERT_NE(scale, nullptr);
    EXPECT_STREQ(scale->filter->name, "scale");
    EXPECT_EQ(scale->outputs[0]->w, 320);
    EXPECT_EQ(scale->outputs[0]->h, 240);
    ASSERT_NE(scale->outputs[0]->dst, nullptr);
    EXPECT_STREQ(scale->outputs[0]->dst->filter->name, "hflip");
    EXPECT_EQ(av::av_buffersink_get_format(ist.OutVideoFilter), AV_PIX_FMT_YUV420P);
    EXPECT_EQ(encoder->width, 320);
    EXPECT_EQ(encoder->height, 240);
}

TEST_F(FilterGraphTest, SameSizeNeedsNoScale) {
    session.VideoFilters = "hflip";
    encoder->width = 640;
    encoder->height = 480;
    ASSERT_TRUE(session.BuildFilterGraph(ist, ost)) << session.SetupError;
    const AVFilterContext* first = FirstAfterSource();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->filter->name, "hflip");
}

TEST_F(FilterGraphTest, SinkTakesOnlyTheEncoderPixelFormat) {
    session.VideoFilters = "vflip";
    encoder->width = 640;
    encoder->height = 480;
    encoder->pix_fmt = AV_PIX_FMT_YUV422P;
    ASSERT_TRUE(session.BuildFilterGraph(ist, ost)) << session.SetupError;
    EXPECT_EQ(av::av_buffersink_get_format(ist.OutVideoFilter), AV_PIX_FMT_YUV422P);
}

TEST_F(FilterGraphTest, EncoderSizeIsTheChainOutputPlusThePads) {
    session.VideoFilters = "vflip";
    session.FramePadTop = session.FramePadBottom = 16;
    session.FramePadLeft = 8;
    encoder->width = 648;
    encoder->height = 512;
    ASSERT_TRUE(session.BuildFilterGraph(ist, ost)) << session.SetupError;
    EXPECT_STREQ(FirstAfterSource()->filter->name, "vflip");
    EXPECT_EQ(encoder->width, 648);
    EXPECT_EQ(encoder->height, 512);

    // The same pads with a chain that halves the picture: refused by size.
    av::avfilter_graph_free(&ist.FilterGraph);
    session.VideoFilters = "vflip,scale=iw/2:ih/2";
    EXPECT_FALSE(session.BuildFilterGraph(ist, ost));
    EXPECT_EQ(session.SetupError, PadRefusal);
}

TEST_F(FilterGraphTest, CropBandsAreRefusedBeforeAnyGraphIsMade) {
    session.VideoFilters = "hflip";
    session.FrameLeftBand = 16;
    encoder->width = 624;
    encoder->height = 480;
    EXPECT_FALSE(session.BuildFilterGraph(ist, ost));
    EXPECT_EQ(session.SetupError, "Cannot enable crop options and filters at the same time.");
    EXPECT_EQ(ist.FilterGraph, nullptr);
}

} // namespace
