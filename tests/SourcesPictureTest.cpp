// Pictures of sources as people have them, converted by mobivert-cli end to end: phone clips
// turned by their display matrix, deep and full-chroma pictures, a cover picture beside the
// video, interlaced broadcasts. Outputs are read back with MediaInfo, with GStreamer (which
// turns pictures by the matrix on its own) and with the libraries' decoders.

#include "binding/AVLibs.h"
#include "support/CliPipe.h"
#include "support/LibrariesTest.h"
#include "support/MediaInfo.h"
#include "support/PictureReader.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace mobivert::test;
namespace fs = std::filesystem;

namespace {

struct Converted {
    int Status = -1;
    std::string Log;
    std::string Output; // the one output written, empty when there is none or several
};

// Converts the fixture with the preset (its number) into dir/out, with its own settings.
Converted Convert(const TempDir& dir, int preset, const std::string& fixture,
                  const std::string& extra = "") {
    const std::string base = dir.Path().string();
    Converted result;
    result.Status =
        RunCliThroughShell("XDG_CONFIG_HOME=" + ShellQuoted(base + "/cfg") +
                               " XDG_STATE_HOME=" + ShellQuoted(base + "/state"),
                           "-v -p " + std::to_string(preset) + " -o " + ShellQuoted(base + "/out") +
                               " " + extra + " " + ShellQuoted(Fixture(fixture)),
                           true, result.Log);
    std::error_code ec;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path() / "out", ec)) {
        result.Output = entry.path().string();
        ++count;
    }
    if (count != 1)
        result.Output.clear();
    return result;
}

// The luma of the first picture as GStreamer shows it: decoded and turned by the display matrix
// its demuxer reads.
std::vector<uint8_t> GstShownLuma(const std::string& path, const TempDir& dir, int width,
                                  int height) {
    const std::string raw = dir.File("shown.yuv");
    RunCommand("gst-launch-1.0 -q filesrc location=" + ShellQuoted(path) +
               " ! decodebin ! videoflip video-direction=auto ! videoconvert ! "
               "video/x-raw,format=I420,width=" +
               std::to_string(width) + ",height=" + std::to_string(height) +
               " ! filesink location=" + ShellQuoted(raw) + " 2>&1");
    std::ifstream in(raw, std::ios::binary);
    std::vector<uint8_t> luma(static_cast<size_t>(width) * height);
    if (!in.read(reinterpret_cast<char*>(luma.data()), static_cast<std::streamsize>(luma.size())))
        luma.clear();
    return luma;
}

double MeanLumaDifference(const Picture& picture, const std::vector<uint8_t>& luma) {
    double sum = 0;
    for (size_t i = 0; i < luma.size(); ++i)
        sum += std::abs(static_cast<int>(picture.Y[i]) - luma[i]);
    return luma.empty() ? 1e9 : sum / static_cast<double>(luma.size());
}

// Pixels where a line stands out from both its neighbours the same way: the teeth of two
// fields woven together.
long CombedPixels(const Picture& picture) {
    long combed = 0;
    for (int y = 1; y + 1 < picture.Height; ++y)
        for (int x = 0; x < picture.Width; ++x) {
            const int above = picture.LumaAt(x, y) - picture.LumaAt(x, y - 1);
            const int below = picture.LumaAt(x, y) - picture.LumaAt(x, y + 1);
            combed += above * below > 400;
        }
    return combed;
}

long CombedPixels(const DecodedVideo& video) {
    long combed = 0;
    for (const Picture& picture : video.Pictures)
        combed += CombedPixels(picture);
    return combed;
}

class SourcesPictureTest : public mobivert::test::LibrariesTest {
protected:
};

// ---- Turned by the display matrix -----------------------------------------------------------

TEST_F(SourcesPictureTest, PhoneClipsComeOutUprightAsPlayersShowThem) {
    struct Case {
        const char* Source;
        int Width, Height; // as shown
    };
    for (const Case& c : {Case{"portrait_90.mp4", 180, 320}, Case{"portrait_270.mov", 180, 320},
                          Case{"upside_down.mp4", 320, 240}}) {
        SCOPED_TRACE(c.Source);
        TempDir dir;
        Converted run = Convert(dir, 13, c.Source);
        ASSERT_EQ(run.Status, 0) << run.Log;
        EXPECT_EQ(MediaInfoText(run.Output, "Video;%Width%x%Height%|%Rotation%"),
                  std::to_string(c.Width) + "x" + std::to_string(c.Height) + "|0.000");
        DecodedVideo output = DecodeVideo(run.Output, 1);
        ASSERT_EQ(output.Pictures.size(), 1u);
        const std::vector<uint8_t> shown = GstShownLuma(Fixture(c.Source), dir, c.Width, c.Height);
        ASSERT_FALSE(shown.empty());
        EXPECT_LT(MeanLumaDifference(output.Pictures[0], shown), 6.0);
    }
}

TEST_F(SourcesPictureTest, APortraitClipIsFittedIntoALandscapePresetWithPadBands) {
    TempDir dir;
    Converted run = Convert(dir, 2, "portrait_90.mp4");
    ASSERT_EQ(run.Status, 0) << run.Log;
    DecodedVideo output = DecodeVideo(run.Output, 1);
    ASSERT_EQ(output.Pictures.size(), 1u);
    const Picture& picture = output.Pictures[0];
    ASSERT_EQ(picture.Width, 176);
    ASSERT_EQ(picture.Height, 144);
    // An upright 9:16 picture 144 lines high is 81 wide: bands of about 47 columns each side.
    auto columnSpread = [&](int x) {
        int low = 255, high = 0;
        for (int y = 0; y < picture.Height; ++y) {
            low = std::min(low, picture.LumaAt(x, y));
            high = std::max(high, picture.LumaAt(x, y));
        }
        return std::make_pair(low, high);
    };
    for (int x : {2, 40, 135, 173}) {
        EXPECT_LT(columnSpread(x).second, 40) << "column " << x << " is not a black band";
    }
    // The smpte bars, turned, run across the picture: the middle column crosses several of them.
    auto middle = columnSpread(88);
    EXPECT_GT(middle.second - middle.first, 100);
}

TEST_F(SourcesPictureTest, PicturesLeftAsCodedKeepTheirDisplayMatrix) {
    // Stream copy, and re-encoding with turning off: the picture stays landscape and players
    // turn it by the matrix carried over.
    for (const char* extra : {"-x vcodec=copy", "-x noautorotate=1"}) {
        SCOPED_TRACE(extra);
        TempDir dir;
        Converted run = Convert(dir, 13, "portrait_90.mp4", extra);
        ASSERT_EQ(run.Status, 0) << run.Log;
        EXPECT_EQ(MediaInfoText(run.Output, "Video;%Width%x%Height%|%Rotation%"), "320x180|90.000");
        EXPECT_EQ(run.Log.find("shaped before scaling"), std::string::npos) << run.Log;
    }
}

TEST_F(SourcesPictureTest, InfoReportsTheTurn) {
    std::string text;
    ASSERT_EQ(RunCliThroughShell("",
                                 "--info " + ShellQuoted(Fixture("portrait_90.mp4")) + " " +
                                     ShellQuoted(Fixture("upside_down.mp4")),
                                 true, text),
              0);
    EXPECT_NE(text.find("shown turned 90 degrees"), std::string::npos) << text;
    EXPECT_NE(text.find("shown turned 180 degrees"), std::string::npos) << text;
}

// ---- Pictures devices play ------------------------------------------------------------------

TEST_F(SourcesPictureTest, DeepAndFullChromaSourcesGiveEightBitFourTwoZeroH264) {
    for (const char* source :
         {"h264_10bit.mp4", "h264_422_10bit.mkv", "h264_444.mkv", "hevc_10bit.mp4"}) {
        SCOPED_TRACE(source);
        TempDir dir;
        Converted run = Convert(dir, 13, source);
        ASSERT_EQ(run.Status, 0) << run.Log;
        EXPECT_EQ(MediaInfoText(run.Output, "Video;%Format_Profile%|%ChromaSubsampling%|%BitDepth%")
                      .substr(0, 4),
                  "High");
        EXPECT_EQ(MediaInfoText(run.Output, "Video;%ChromaSubsampling%|%BitDepth%"), "4:2:0|8");
        EXPECT_NE(run.Log.find("is given yuv420p pictures (the source's are"), std::string::npos)
            << run.Log;
    }
    // An explicit pixel format still wins.
    TempDir dir;
    Converted run = Convert(dir, 13, "h264_10bit.mp4", "-x pix_fmt=yuv444p");
    ASSERT_EQ(run.Status, 0) << run.Log;
    EXPECT_EQ(MediaInfoText(run.Output, "Video;%ChromaSubsampling%|%BitDepth%"), "4:4:4|8");
}

// ---- A cover picture beside the video -------------------------------------------------------

TEST_F(SourcesPictureTest, ACoverPictureNeverShapesTheVideo) {
    struct Case {
        int Preset;
        const char* FrameRate;
    };
    // 3GPP2, AVI, DivX, XviD, MOV keep the source's 25 fps; MPEG-4 has its own 29.97.
    for (const Case& c : {Case{3, "25.000"}, Case{8, "25.000"}, Case{9, "25.000"},
                          Case{10, "25.000"}, Case{11, "25.000"}, Case{13, "29.970"}}) {
        SCOPED_TRACE(c.Preset);
        TempDir dir;
        Converted run = Convert(dir, c.Preset, "cover_beside_video.mp4");
        ASSERT_EQ(run.Status, 0) << run.Log;
        EXPECT_EQ(MediaInfoText(run.Output, "Video;%FrameRate%|%DisplayAspectRatio%"),
                  std::string(c.FrameRate) + "|1.333");
        EXPECT_EQ(MediaInfoText(run.Output, "General;%VideoCount%"), "1");
        // A moving progressive picture is not taken for woven fields.
        EXPECT_EQ(run.Log.find("not flagged"), std::string::npos) << run.Log;
        DecodedVideo output = DecodeVideo(run.Output, 1);
        EXPECT_GE(output.DecodedCount, 24); // the moving video, not one cover picture
        if (c.Preset == 13) {
            EXPECT_NE(MediaInfoText(run.Output, "Video;%Format_Profile%").find("High@"),
                      std::string::npos);
        }
    }
}

// ---- Interlaced broadcasts ------------------------------------------------------------------

TEST_F(SourcesPictureTest, InterlacedPicturesAreDeinterlacedAndFlaggedProgressive) {
    struct Case {
        const char* Source;
        int Preset;
        const char* Shaping;
        double From; // the first output time measured (seconds)
    };
    // Flagged interlaced at full size (MPEG-4 keeps 720x576) and scaled (3GPP2 320x240); woven
    // fields stored as progressive pictures, found by looking at them (the detector judges a
    // picture against the one before it, so the very first is left as it is).
    for (const Case& c : {Case{"interlaced_25i.ts", 13, "yadif=deint=interlaced", 0},
                          Case{"interlaced_25i.ts", 6, "yadif=deint=interlaced", 0},
                          Case{"woven_25i.avi", 13, "yadif=parity=tff", 0.05}}) {
        SCOPED_TRACE(std::string(c.Source) + " " + std::to_string(c.Preset));
        const int preset = c.Preset;
        const long sourceComb = CombedPixels(DecodeVideo(Fixture(c.Source), 10));
        ASSERT_GT(sourceComb, 1000) << "the fixture does not comb";
        TempDir dir;
        Converted run = Convert(dir, preset, c.Source);
        ASSERT_EQ(run.Status, 0) << run.Log;
        EXPECT_NE(run.Log.find(std::string("is shaped before scaling: ") + c.Shaping),
                  std::string::npos)
            << run.Log;
        DecodedVideo output = DecodeVideo(run.Output, 12);
        ASSERT_EQ(output.Pictures.size(), 12u);
        std::erase_if(output.Pictures, [&](const Picture& p) { return p.Time < c.From; });
        output.Pictures.resize(std::min<size_t>(output.Pictures.size(), 10));
        ASSERT_EQ(output.Pictures.size(), 10u);
        const double scale = static_cast<double>(output.Width) * output.Height / (720.0 * 576.0);
        EXPECT_LT(CombedPixels(output), sourceComb * scale / 10) << output.Width;
        if (preset == 13) {
            EXPECT_EQ(MediaInfoText(run.Output, "Video;%ScanType%"), "Progressive");
        }
    }
    // Interlaced coding asked for keeps the fields.
    TempDir dir;
    Converted run = Convert(dir, 13, "interlaced_25i.ts", "-x flags=+ildct+ilme");
    ASSERT_EQ(run.Status, 0) << run.Log;
    EXPECT_EQ(run.Log.find("yadif"), std::string::npos) << run.Log;
}

} // namespace

// ---- The shortest sources -------------------------------------------------------------------

TEST_F(SourcesPictureTest, OnePictureIsHeldWhileItsSoundPlaysAndAFifthOfASecondStaysOne) {
    for (int preset : {8, 13}) {
        SCOPED_TRACE(preset);
        TempDir dir;
        Converted run = Convert(dir, preset, "one_picture.mkv");
        ASSERT_EQ(run.Status, 0) << run.Log; // a plain "Done": the video is as long as the sound
        const double frameRate = std::atof(MediaInfoText(run.Output, "Video;%FrameRate%").c_str());
        const double video =
            std::atof(MediaInfoText(run.Output, "Video;%Duration%").c_str()) / 1000;
        EXPECT_NEAR(video, 1.0, 1.01 / frameRate);
        DecodedVideo output = DecodeVideo(run.Output, 1000);
        EXPECT_GE(output.DecodedCount, static_cast<int>(frameRate * 0.9));
    }
    // Within one picture, or one audio frame (WMA's are 2048 samples), of the source's 0.2 s.
    struct Case {
        int Preset;
        double Slack;
    };
    for (const Case& c : {Case{13, 1 / 29.97}, Case{8, 1 / 25.0}, Case{15, 2048 / 44100.0}}) {
        SCOPED_TRACE(c.Preset);
        TempDir dir;
        Converted run = Convert(dir, c.Preset, "fifth_second.mp4");
        ASSERT_EQ(run.Status, 0) << run.Log;
        const double seconds =
            std::atof(MediaInfoText(run.Output, "General;%Duration%").c_str()) / 1000;
        EXPECT_NEAR(seconds, 0.2, c.Slack + 0.001);
    }
}

// ---- HDR sources ----------------------------------------------------------------------------

TEST_F(SourcesPictureTest, HdrPicturesAreToneMappedToSdr) {
    // The fixture is an SDR display's white coded in PQ. Read as coded it is a mid grey; mapped
    // to SDR it is close to white again (without mastering data the filter assumes highlights up
    // to 10000 cd/m2, so some head room stays below white).
    DecodedVideo source = DecodeVideo(Fixture("hdr_pq.mkv"), 1);
    ASSERT_EQ(source.Pictures.size(), 1u);
    ASSERT_NEAR(source.Pictures[0].LumaAt(160, 120), 127, 8);
    for (int preset : {13, 9}) {
        SCOPED_TRACE(preset);
        TempDir dir;
        Converted run = Convert(dir, preset, "hdr_pq.mkv");
        ASSERT_EQ(run.Status, 0) << run.Log;
        EXPECT_NE(run.Log.find("is HDR (PQ): tone-mapped to SDR BT.709 with zscale"),
                  std::string::npos)
            << run.Log;
        DecodedVideo output = DecodeVideo(run.Output, 1);
        ASSERT_EQ(output.Pictures.size(), 1u);
        const Picture& picture = output.Pictures[0];
        EXPECT_GE(picture.LumaAt(160, 120), 185);
        EXPECT_LE(picture.LumaAt(160, 120), 235);
        // Still a neutral white (MPEG-4's coarse chroma DC moves a flat grey by a few steps).
        EXPECT_NEAR(picture.UAt(160, 120), 128, 6);
        EXPECT_NEAR(picture.VAt(160, 120), 128, 6);
    }
    // A filter chain of the user's own that maps colours is left to do so.
    TempDir dir;
    Converted run = Convert(dir, 9, "hdr_pq.mkv", "-x vfilters=colorspace=all=bt709:iall=bt2020");
    EXPECT_EQ(run.Log.find("tone-mapped"), std::string::npos) << run.Log;
}
