// Sources as people have them, converted by mobivert-cli end to end and read back with MediaInfo
// and GStreamer: late-starting video, tags and cover art, several audio tracks, names at the
// file system's limit, loud surround downmixes, and the refusals of options and sources that
// cannot give what was asked.

#include "support/MediaInfo.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

using namespace mobivert::test;
namespace fs = std::filesystem;

namespace {

struct CliResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Runs mobivert-cli in the folder with its own settings and journal, writing into dir/out.
CliResult Cli(const TempDir& dir, const std::string& preset, const std::string& source,
              const std::string& extra = "") {
    const std::string base = dir.Path().string();
    std::string command =
        "cd " + ShellQuoted(base) + " && XDG_CONFIG_HOME=" + ShellQuoted(base + "/cfg") +
        " XDG_STATE_HOME=" + ShellQuoted(base + "/state") + " " +
        ShellQuoted(MOBIVERT_CLI_PROGRAM) + " -v -p " + ShellQuoted(preset) + " -o out " + extra +
        " " + ShellQuoted(source) + " >cli.out 2>cli.err; echo $?";
    CliResult result;
    result.Status = std::atoi(RunCommand(command).c_str());
    std::ifstream out(dir.File("cli.out")), err(dir.File("cli.err"));
    std::stringstream o, e;
    o << out.rdbuf();
    e << err.rdbuf();
    result.Out = o.str();
    result.Err = e.str();
    return result;
}

// The one output in dir/out (empty when there is none or more than one).
std::string OnlyOutput(const TempDir& dir) {
    std::string found;
    int count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir.Path() / "out", ec)) {
        found = entry.path().string();
        ++count;
    }
    return count == 1 ? found : "";
}

// Earliest and last-end timestamps (seconds) of the buffers GStreamer's demuxer gives a sink.
struct Span {
    double First = -1;
    double End = -1;
};
// The sinks' buffer times as gst-launch's -v shows them. It reports each sink's last message
// as it finds it, so under load a reading may miss some buffers (never adds one): the spans are
// those of three readings together.
std::map<std::string, Span> GstSpans(const std::string& path, const std::string& pipeline) {
    std::string text;
    for (int reading = 0; reading < 3; ++reading)
        text += RunCommand("gst-launch-1.0 -v filesrc location=" + ShellQuoted(path) + " ! " +
                           pipeline + " 2>&1");
    std::map<std::string, Span> spans;
    static const std::regex line(R"(GstFakeSink:(\w+): last-message = chain.*?pts: (\d+):(\d+):)"
                                 R"(([\d.]+), duration: (\d+):(\d+):([\d.]+))");
    std::istringstream in(text);
    std::string row;
    while (std::getline(in, row)) {
        std::smatch m;
        if (!std::regex_search(row, m, line))
            continue;
        double pts = std::stod(m[2]) * 3600 + std::stod(m[3]) * 60 + std::stod(m[4]);
        double duration = std::stod(m[5]) * 3600 + std::stod(m[6]) * 60 + std::stod(m[7]);
        Span& span = spans[m[1]];
        if (span.First < 0 || pts < span.First)
            span.First = pts;
        span.End = std::max(span.End, pts + duration);
    }
    return spans;
}

// Peak and count of samples at full scale of a file's audio as GStreamer decodes it.
struct Loudness {
    int Peak = 0;
    long FullScale = 0;
    long Samples = 0;
};
Loudness GstLoudness(const std::string& path, const TempDir& dir) {
    const std::string raw = dir.File("decoded.raw");
    RunCommand("gst-launch-1.0 -q filesrc location=" + ShellQuoted(path) +
               " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE ! filesink location=" +
               ShellQuoted(raw) + " 2>&1");
    Loudness result;
    std::ifstream in(raw, std::ios::binary);
    int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
        const int magnitude = std::abs(static_cast<int>(sample));
        result.Peak = std::max(result.Peak, magnitude);
        result.FullScale += magnitude >= 32767;
        ++result.Samples;
    }
    return result;
}

// ---- Late-starting streams ------------------------------------------------------------------

TEST(LateStreamTest, VideoTwoSecondsLateIsKeptInStepAndPassesTheCheck) {
    TempDir dir;
    CliResult run = Cli(dir, "MPEG-4 Video (*.mp4)", Fixture("late_video.mp4"));
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find(": Done\n"), std::string::npos) << run.Out;
    const std::string output = OnlyOutput(dir);
    ASSERT_FALSE(output.empty());
    // GStreamer's own demuxer: the picture starts with the sound and ends with it. Its buffers
    // carry media times, with the edit lists in the segments: identity turns them into the times
    // they play at.
    auto spans = GstSpans(output, "qtdemux name=d d.video_0 ! queue ! identity single-segment=true "
                                  "! fakesink name=v silent=false d.audio_0 ! queue ! identity "
                                  "single-segment=true ! fakesink name=a silent=false");
    ASSERT_TRUE(spans.count("v") && spans.count("a"))
        << RunCommand("gst-discoverer-1.0 " + ShellQuoted(output));
    EXPECT_NEAR(spans["v"].First, spans["a"].First, 0.040);
    EXPECT_NEAR(spans["v"].End, spans["a"].End, 0.040 + 1.0 / 29.97);
    EXPECT_NEAR(spans["a"].End, 3.0, 0.1);
}

// ---- Tags and cover art ---------------------------------------------------------------------

struct TagCase {
    const char* Source;
    const char* Preset;
    bool Cover; // the output holds the source's cover
    // MediaInfo's names for title, artist, album, genre and comment in this container: it shows
    // RIFF INFO's IART as "Director" and IPRD as "OriginalSourceForm/Name", and in ASF the
    // "Description" attribute as Description and Author as "Accompaniment" (it gives Performer
    // to WM/AlbumArtist).
    const char* Fields;
};

class SourceTagsTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(SourceTagsTest, CommonTagsAndCoverCarryOver) {
    const TagCase& c = GetParam();
    TempDir dir;
    CliResult run = Cli(dir, c.Preset, Fixture(c.Source));
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    const std::string output = OnlyOutput(dir);
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(MediaInfoText(output, std::string("General;") + c.Fields),
              "Song Title|The Artist|The Album|Jazz|A comment");
    // The containers with a place for them also keep these.
    const std::string ext = fs::path(output).extension().string();
    if (ext == ".mp3" || ext == ".mp4") {
        EXPECT_EQ(MediaInfoText(output,
                                "General;%Album/Performer%|%Track/Position%|%Part/Position%|"
                                "%Composer%"),
                  "Album Band|3|2|Com Poser");
        EXPECT_NE(MediaInfoText(output, "General;%Recorded_Date%").find("2019"), std::string::npos);
    }
    EXPECT_EQ(MediaInfoText(output, "General;%Cover%"), c.Cover ? "Yes" : "");
    // Cover art is never a video stream, for GStreamer either.
    EXPECT_EQ(MediaInfoText(output, "General;%VideoCount%"), "");
    EXPECT_EQ(RunCommand("gst-discoverer-1.0 " + ShellQuoted(output) + " 2>&1").find("video #"),
              std::string::npos);
}

constexpr const char* kPlainFields = "%Title%|%Performer%|%Album%|%Genre%|%Comment%";

INSTANTIATE_TEST_SUITE_P(
    Sources, SourceTagsTest,
    ::testing::Values(TagCase{"tagged_cover.mp3", "MP3 MPEG Layer-3 (*.mp3)", true, kPlainFields},
                      TagCase{"tagged_cover.mp3", "MPEG-4 Video (*.mp4)", true, kPlainFields},
                      TagCase{"tagged.flac", "MP3 MPEG Layer-3 (*.mp3)", false, kPlainFields},
                      TagCase{"tagged.flac", "Windows Media Audio (*.wma)", false,
                              "%Title%|%Accompaniment%|%Album%|%Genre%|%Description%"},
                      TagCase{"tagged.flac", "Wave Audio (*.wav)", false,
                              "%Title%|%Director%|%OriginalSourceForm/Name%|%Genre%|%Comment%"}));

TEST(SourceTagsTest, ComponentMetaDataAndMetaDataMapsWin) {
    TempDir own;
    CliResult run = Cli(own, "MP3 MPEG Layer-3 (*.mp3)", Fixture("tagged.flac"), "-x title=Mine");
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_EQ(MediaInfoText(OnlyOutput(own), "General;%Title%|%Performer%"), "Mine|The Artist");
    // A meta-data map copies the source's own tags last, so the source's title is back.
    TempDir mapped;
    run = Cli(mapped, "MP3 MPEG Layer-3 (*.mp3)", Fixture("tagged.flac"),
              "-x title=Mine -x map_meta_data=0:0");
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_EQ(MediaInfoText(OnlyOutput(mapped), "General;%Title%"), "Song Title");
}

// ---- Which audio track ----------------------------------------------------------------------

TEST(AudioTrackTest, TheTrackMarkedDefaultIsTakenAndMapStillChooses) {
    TempDir dir;
    CliResult run = Cli(dir, "Wave Audio (*.wav)", Fixture("two_audio.mkv"));
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("Audio track #0.1 taken (marked as the default); left: #0.0"),
              std::string::npos)
        << run.Err;
    EXPECT_GT(GstLoudness(OnlyOutput(dir), dir).Peak, 16000); // the loud second track

    TempDir mapped;
    run = Cli(mapped, "Wave Audio (*.wav)", Fixture("two_audio.mkv"), "-x map=0:0");
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_LT(GstLoudness(OnlyOutput(mapped), mapped).Peak, 200); // the silent first track
}

// ---- Names at the file system's limit -------------------------------------------------------

TEST(LongNameTest, A240ByteNameIsShortenedAtACharacterBoundary) {
    TempDir dir;
    // 2-byte characters, so that a cut in the middle of one would show.
    std::string stem;
    while (stem.size() < 236)
        stem += "\xc3\xa9";
    const std::string source = dir.File(stem + ".mp4");
    ASSERT_EQ(fs::path(source).filename().string().size(), 240u);
    fs::copy_file(Fixture("sample.mp4"), source);
    CliResult run = Cli(dir, "MPEG-4 Video (*.mp4)", source, "-x t=0.5");
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("Output name shortened"), std::string::npos) << run.Err;
    const std::string name = fs::path(OnlyOutput(dir)).filename().string();
    ASSERT_FALSE(name.empty());
    EXPECT_LE(name.size() + std::string(".").size() + std::string(".part").size(), 255u);
    EXPECT_NE(name.find(" (MPEG-4 Video).mp4"), std::string::npos) << name;
    // Whole characters only: the kept stem is a run of whole two-byte characters.
    const std::string kept = name.substr(0, name.find(" (MPEG-4 Video)"));
    EXPECT_EQ(kept.size() % 2, 0u);
    EXPECT_EQ(kept, stem.substr(0, kept.size()));
}

// ---- Clean downmixes and sane bit rates -----------------------------------------------------

struct DownmixCase {
    const char* Preset;
    bool Lossy; // its bit rate is held to the encoder's ceiling
};

class DownmixTest : public ::testing::TestWithParam<DownmixCase> {};

TEST_P(DownmixTest, Loud71ToStereoNeverReachesFullScale) {
    TempDir dir;
    CliResult run = Cli(dir, GetParam().Preset, Fixture("loud_7.1.wav"));
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    const std::string output = OnlyOutput(dir);
    Loudness loud = GstLoudness(output, dir);
    ASSERT_GT(loud.Samples, 40000);
    EXPECT_EQ(loud.FullScale, 0) << "peak " << loud.Peak;
    // The tone is still there at a sensible level (the centre keeps its share).
    EXPECT_GT(loud.Peak, 8000);
    const std::string rate = MediaInfoText(output, "Audio;%BitRate%");
    if (GetParam().Lossy && !rate.empty()) {
        EXPECT_LE(std::atol(rate.c_str()), 330000) << rate; // at most 320 kb/s for stereo
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, DownmixTest,
                         ::testing::Values(DownmixCase{"AAC Advanced Audio Coding (*.aac)", true},
                                           DownmixCase{"Windows Media Audio (*.wma)", true},
                                           DownmixCase{"RA Real Media Audio (*.ra)", true},
                                           DownmixCase{"MP3 MPEG Layer-3 (*.mp3)", true},
                                           DownmixCase{"Wave Audio (*.wav)", false}));

// ---- Honest refusals ------------------------------------------------------------------------

TEST(RefusalTest, OptionsAndSourcesThatCannotWorkAreRefusedPlainly) {
    struct Case {
        const char* Extra;
        const char* Says;
    };
    for (const Case& c : {Case{"-x bogusopt=1", "-x bogusopt=1: unknown option \"bogusopt\""},
                          Case{"-x ab=notanumber", "\"notanumber\" is not a valid value for "
                                                   "option \"ab\""},
                          Case{"-i bogusin=2", "-i bogusin=2: unknown option"}}) {
        TempDir dir;
        CliResult run = Cli(dir, "MPEG-4 Video (*.mp4)", Fixture("sample.mp4"), c.Extra);
        EXPECT_EQ(run.Status, 2) << c.Extra << run.Out << run.Err;
        EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
        EXPECT_TRUE(OnlyOutput(dir).empty());
    }
    // Known options with good values still convert.
    TempDir good;
    CliResult run =
        Cli(good, "MPEG-4 Video (*.mp4)", Fixture("sample.mp4"), "-x ab=96000 -x t=0.5");
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;

    // An audio preset for a source without sound.
    TempDir videoOnly;
    run = Cli(videoOnly, "MP3 MPEG Layer-3 (*.mp3)", Fixture("ts_jump.ts"));
    EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Error found: has no sound to convert"), std::string::npos) << run.Out;

    // Frames of noise at the finest quantiser pass what a RealMedia packet holds.
    TempDir large;
    run = Cli(large, "RM Real Media Video (*.rm)", Fixture("snow_mjpeg.avi"),
              "-x s=1280x720 -x qmax=2 -x b=40000000");
    EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("A coded frame is larger than the 64 kB a RealMedia packet can hold"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(run.Out.find("Error while opening file"), std::string::npos) << run.Out;
    EXPECT_TRUE(OnlyOutput(large).empty());
}

} // namespace
