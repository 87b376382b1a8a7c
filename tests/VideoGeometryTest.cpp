// Picture geometry of the video output path in whole conversions: cropping, rescaling, borders
// painted in the pad colour, odd and unaligned sizes, pictures that change size in the middle
// of a stream, and deinterlacing. Pixels are checked on the decoded output.

#include "binding/AVLibs.h"
#include "binding/SwScaleHlpr.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaInfo.h"
#include "support/MediaReader.h"
#include "support/PictureReader.h"
#include "support/TempDir.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

struct Yuv {
    int Y, U, V;
};

// The pad colour of an RGB value as the "padcolor" option documents it.
Yuv PadColorOf(int r, int g, int b) {
    auto floorDiv = [](int a, int d) { return static_cast<int>(std::floor(double(a) / d)); };
    return {floorDiv(307 * r + 602 * g + 117 * b + 512, 1024),
            floorDiv(-173 * r - 340 * g + 512 * b + 511, 1024) + 128,
            floorDiv(512 * r - 429 * g - 84 * b + 511, 1024) + 128};
}

// The luma of a picture rescaled with the library's scaler.
std::vector<uint8_t> ScaledLuma(const Picture& picture, int width, int height) {
    SwsContext* scaler =
        av::sws_getContext(picture.Width, picture.Height, AV_PIX_FMT_GRAY8, width, height,
                           AV_PIX_FMT_GRAY8, SWS_BICUBIC, nullptr, nullptr, nullptr);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height);
    const uint8_t* in[4] = {picture.Y.data(), nullptr, nullptr, nullptr};
    int inStride[4] = {picture.Width, 0, 0, 0};
    uint8_t* dst[4] = {out.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {width, 0, 0, 0};
    av::sws_scale(scaler, in, inStride, 0, picture.Height, dst, dstStride);
    av::sws_freeContext(scaler);
    return out;
}

// Mean absolute luma difference between a region of a and a region of b of the same size.
double LumaDifference(const Picture& a, int ax, int ay, const uint8_t* b, int bStride, int bx,
                      int by, int width, int height) {
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            sum += std::abs(a.LumaAt(ax + x, ay + y) -
                            b[static_cast<size_t>(by + y) * bStride + bx + x]);
    return sum / (static_cast<double>(width) * height);
}

// Every pixel of the rows [y0, y1) and columns [x0, x1) is within tolerance of the colour.
void ExpectColor(const Picture& picture, int x0, int x1, int y0, int y1, Yuv color, int tolerance,
                 const char* where) {
    int worst = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            worst = std::max({worst, std::abs(picture.LumaAt(x, y) - color.Y),
                              std::abs(picture.UAt(x, y) - color.U),
                              std::abs(picture.VAt(x, y) - color.V)});
    EXPECT_LE(worst, tolerance) << where;
}

class VideoGeometryTest : public mobivert::test::LibrariesTest {
protected:
    std::unique_ptr<EngineRun> Convert(const std::string& input, const std::string& output,
                                       const std::string& options) {
        auto run = std::make_unique<EngineRun>();
        EXPECT_TRUE(run->AddInput(input)) << run->Error();
        EXPECT_TRUE(run->SetOutput(output, options)) << run->Error();
        run->Run();
        EXPECT_FALSE(run->Failed()) << run->Error();
        return run;
    }

    TempDir dir;
};

TEST_F(VideoGeometryTest, RescaledPictureSitsBetweenBordersInThePadColor) {
    std::string out = dir.File("padded.avi");
    Convert(Fixture("h264_aac.mp4"), out,
            "vcodec=mpeg4\nan\nqscale=2\ns=320x208\npadtop=16\npadbottom=16\npadcolor=255");
    DecodedVideo video = DecodeVideo(out, 50);
    DecodedVideo source = DecodeVideo(Fixture("h264_aac.mp4"), 50);
    ASSERT_EQ(video.Width, 320);
    ASSERT_EQ(video.Height, 240);
    ASSERT_EQ(video.DecodedCount, 50);
    Yuv red = PadColorOf(255, 0, 0);
    EXPECT_EQ(red.Y, 76);
    EXPECT_EQ(red.U, 85);
    EXPECT_EQ(red.V, 255);
    for (size_t i = 0; i < video.Pictures.size(); i += 7) {
        const Picture& picture = video.Pictures[i];
        ExpectColor(picture, 0, 320, 0, 16, red, 3, "top border");
        ExpectColor(picture, 0, 320, 224, 240, red, 3, "bottom border");
        std::vector<uint8_t> expected = ScaledLuma(source.Pictures[i], 320, 208);
        EXPECT_LT(LumaDifference(picture, 0, 16, expected.data(), 320, 0, 0, 320, 208), 2.0)
            << "picture " << i;
    }
    EXPECT_TRUE(PlaysInGStreamer(out));
}

TEST_F(VideoGeometryTest, PaddingWithoutRescaleCopiesThePictureIntoTheMiddle) {
    std::string out = dir.File("sides.avi");
    // Green sides, 32 columns each, around the unscaled 640 x 480 picture.
    Convert(Fixture("h264_aac.mp4"), out,
            "vcodec=mpeg4\nan\nqscale=2\npadleft=32\npadright=32\npadcolor=65280");
    DecodedVideo video = DecodeVideo(out, 10);
    DecodedVideo source = DecodeVideo(Fixture("h264_aac.mp4"), 10);
    ASSERT_EQ(video.Width, 704);
    ASSERT_EQ(video.Height, 480);
    Yuv green = PadColorOf(0, 255, 0);
    for (size_t i = 0; i < video.Pictures.size(); ++i) {
        const Picture& picture = video.Pictures[i];
        ExpectColor(picture, 0, 32, 0, 480, green, 3, "left border");
        ExpectColor(picture, 672, 704, 0, 480, green, 3, "right border");
        EXPECT_LT(LumaDifference(picture, 32, 0, source.Pictures[i].Y.data(), 640, 0, 0, 640, 480),
                  2.0);
    }
}

TEST_F(VideoGeometryTest, CropFromTheTopGivesAShorterPictureStartingLower) {
    // SMPTE bars change from row to row at their zone edges, so a vertical offset shows.
    std::string out = dir.File("cropped.avi");
    Convert(Fixture("sar_8_9.mp4"), out, "vcodec=mpeg4\nqscale=2\ncroptop=16");
    DecodedVideo video = DecodeVideo(out, 5);
    DecodedVideo source = DecodeVideo(Fixture("sar_8_9.mp4"), 5);
    ASSERT_EQ(video.Width, 640);
    ASSERT_EQ(video.Height, 464);
    EXPECT_EQ(MediaInfoVideo(out).Height, 464);
    const Picture& picture = video.Pictures[2];
    const uint8_t* original = source.Pictures[2].Y.data();
    double shifted = LumaDifference(picture, 0, 0, original, 640, 0, 16, 640, 464);
    double unshifted = LumaDifference(picture, 0, 0, original, 640, 0, 0, 640, 464);
    EXPECT_LT(shifted, 1.5);
    EXPECT_GT(unshifted, 4 * shifted + 1.0);
}

TEST_F(VideoGeometryTest, CropPadAndRescaleOfAnUnalignedPicture) {
    // 322 x 242: neither side a multiple of 16, chroma rows and columns odd in number.
    struct Case {
        const char* options;
        int width, height;
    } cases[] = {
        {"", 322, 242},
        {"cropleft=2\ncroptop=2", 320, 240},
        {"padleft=6\npadright=4\npadtop=2\npadbottom=4", 332, 248},
        {"croptop=4\npadbottom=6\ns=176x144", 176, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        std::string out = dir.File("odd.avi");
        Convert(Fixture("odd_size.mp4"), out, std::string("vcodec=mpeg4\nan\n") + c.options);
        DecodedVideo video = DecodeVideo(out);
        EXPECT_EQ(video.Width, c.width);
        EXPECT_EQ(video.Height, c.height);
        EXPECT_EQ(video.DecodedCount, 50);
        EXPECT_EQ(video.DecodeErrors, 0);
        IndependentVideoInfo info = MediaInfoVideo(out);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_TRUE(PlaysInGStreamer(out));
    }
}

TEST_F(VideoGeometryTest, OddSizedInputConvertsToFourTwoZeroEncoders) {
    std::string input = dir.File("odd.webm");
    std::string make = "gst-launch-1.0 -q videotestsrc num-buffers=20 ! "
                       "video/x-raw,format=I420,width=175,height=131,framerate=25/1 ! "
                       "vp8enc ! webmmux ! filesink location=" +
                       input + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    for (const char* codec : {"mpeg4", "mpeg1video", "mpeg2video"}) {
        SCOPED_TRACE(codec);
        std::string out = dir.File(std::string(codec) + ".mkv");
        auto run = Convert(input, out, std::string("vcodec=") + codec + "\nr=25");
        DecodedVideo video = DecodeVideo(out);
        EXPECT_EQ(video.Width, 175);
        EXPECT_EQ(video.Height, 131);
        EXPECT_EQ(video.DecodedCount, 20);
        EXPECT_TRUE(PlaysInGStreamer(out));
    }
}

// The 320 x 240 pictures of h264_mp3.flv followed by the 640 x 480 pictures of h264_aac.mp4,
// in one H.264 stream of one MPEG-TS (both parts remuxed alike, so they share their ids).
std::string JoinTwoSizes(TempDir& dir) {
    std::string joined = dir.File("two-sizes.ts");
    std::ofstream out(joined, std::ios::binary);
    for (const char* part : {"h264_mp3.flv", "h264_aac.mp4"}) {
        EngineRun remux;
        EXPECT_TRUE(remux.AddInput(Fixture(part))) << remux.Error();
        std::string ts = dir.File(std::string(part) + ".ts");
        EXPECT_TRUE(remux.SetOutput(ts, "vcodec=copy\nan")) << remux.Error();
        remux.Run();
        EXPECT_FALSE(remux.Failed()) << remux.Error();
        std::ifstream in(ts, std::ios::binary);
        out << in.rdbuf();
    }
    return joined;
}

TEST_F(VideoGeometryTest, PicturesThatChangeSizeMidStreamAreFittedToTheEncoder) {
    std::string joined = JoinTwoSizes(dir);
    DecodedVideo input = DecodeVideo(joined, 100);
    ASSERT_EQ(input.DecodedCount, 100) << "both parts decode";
    ASSERT_EQ(input.Pictures[0].Width, 320);
    ASSERT_EQ(input.Pictures[99].Width, 640) << "the pictures change size";
    const char* variants[] = {"",          "padtop=16\npadbottom=16", "s=160x120",
                              "croptop=2", "vfilters=hflip",          "deinterlace"};
    for (const char* options : variants) {
        SCOPED_TRACE(options);
        std::string out = dir.File("fitted.avi");
        auto run = Convert(joined, out, std::string("vcodec=mpeg4\nqscale=2\n") + options);
        MediaSummary written = ReadMedia(out);
        const StreamSummary* stream = written.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(stream, nullptr);
        DecodedVideo video = DecodeVideo(out);
        EXPECT_EQ(video.Width, stream->Width);
        EXPECT_EQ(video.Height, stream->Height);
        EXPECT_EQ(video.DecodedCount, 100);
        EXPECT_EQ(video.DecodeErrors, 0);
        EXPECT_TRUE(PlaysInGStreamer(out));
        if (*options == 0) {
            // The large pictures are scaled down to the whole encoder picture.
            ASSERT_EQ(video.Width, 320);
            std::vector<uint8_t> expected = ScaledLuma(input.Pictures[99], 320, 240);
            EXPECT_LT(
                LumaDifference(video.Pictures.back(), 0, 0, expected.data(), 320, 0, 0, 320, 240),
                3.0);
        }
    }
}

TEST_F(VideoGeometryTest, AJoinOfTwoStreamsKeepsEveryPictureInPlaceWithAnyDecoderThreads) {
    // The second part's timestamps start again from its own start: the jump back is taken out
    // at the join. Each frame thread of the decoder holds one picture back, and none may be lost
    // or moved there for it.
    std::string joined = JoinTwoSizes(dir);
    DecodedVideo input = DecodeVideo(joined, 100);
    ASSERT_EQ(input.DecodedCount, 100);
    for (const char* threads : {"threads=1", "threads=2", "threads=8", ""}) {
        SCOPED_TRACE(threads);
        std::string out = dir.File("joined.avi");
        EngineRun run;
        ASSERT_TRUE(run.AddInput(joined, threads)) << run.Error();
        ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nqscale=2\nan")) << run.Error();
        run.Run();
        ASSERT_FALSE(run.Failed()) << run.Error();
        DecodedVideo video = DecodeVideo(out, 100);
        ASSERT_EQ(video.DecodedCount, 100);
        // Each picture is its own source picture, not its neighbour (a lost picture would move
        // every one after it).
        for (int k : {48, 49, 50, 51, 99}) {
            SCOPED_TRACE(k);
            std::vector<uint8_t> own = ScaledLuma(input.Pictures[k], 320, 240);
            std::vector<uint8_t> next = ScaledLuma(input.Pictures[k == 99 ? 98 : k + 1], 320, 240);
            double toOwn = LumaDifference(video.Pictures[k], 0, 0, own.data(), 320, 0, 0, 320, 240);
            double toNext =
                LumaDifference(video.Pictures[k], 0, 0, next.data(), 320, 0, 0, 320, 240);
            EXPECT_LT(toOwn, toNext / 2);
        }
    }
}

TEST_F(VideoGeometryTest, DeinterlacedPicturesKeepTheirPlaceInTime) {
    std::string out = dir.File("deinterlaced.avi");
    auto run = Convert(Fixture("h264_aac.mp4"), out, "vcodec=mpeg4\nan\nqscale=2\ndeinterlace");
    EXPECT_FALSE(run->Logged("Deinterlacing failed."));
    DecodedVideo video = DecodeVideo(out);
    DecodedVideo source = DecodeVideo(Fixture("h264_aac.mp4"));
    ASSERT_EQ(video.DecodedCount, 50);
    ASSERT_EQ(source.DecodedCount, 50);
    // The ball moves from picture to picture: each output picture matches its own input
    // picture, not the one before it.
    for (size_t i = 1; i < 50; i += 6) {
        const Picture& picture = video.Pictures[i];
        double same =
            LumaDifference(picture, 0, 0, source.Pictures[i].Y.data(), 640, 0, 0, 640, 480);
        double previous =
            LumaDifference(picture, 0, 0, source.Pictures[i - 1].Y.data(), 640, 0, 0, 640, 480);
        EXPECT_LT(same, previous) << "picture " << i;
    }
    EXPECT_TRUE(PlaysInGStreamer(out));
}

} // namespace
