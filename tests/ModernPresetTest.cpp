// The modern presets end to end: every one converts turned, 10-bit, tagged, late-starting and
// surround sources through mobivert-cli, and MediaInfo and GStreamer (its own demuxers and
// decoders) read the outputs back: playable, the codec and container the preset names, the
// source's upright size and constant frame rate, lossless sound as the source's, tags carried,
// durations within 5 %. Larger quality numbers give smaller files; the choices of today reach
// the outputs.

#include "app/shared/ModernOutputOptions.h"
#include "app/shared/Presets.h"
#include "binding/AVLibs.h"
#include "support/CliPipe.h"
#include "support/MediaInfo.h"
#include "support/PictureReader.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

using namespace mobivert::app;
using namespace mobivert::test;

namespace {

// The file's sound as GStreamer decodes it, as 32-bit samples.
std::string DecodedSamples(const std::string& path, const std::string& raw) {
    mobivert::test::RunCommand(
        "gst-launch-1.0 -q filesrc location=" + mobivert::test::ShellQuoted(path) +
        " ! decodebin ! audioconvert ! audio/x-raw,format=S32LE ! "
        "filesink location=" +
        mobivert::test::ShellQuoted(raw));
    std::ifstream in(raw, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Converts the sources with the preset into dir/out (with its own settings and journal); the
// outputs are named "<source> (<preset name>)<extension>".
int Convert(const TempDir& dir, const std::string& preset, const std::vector<std::string>& sources,
            const std::string& options, std::string& log) {
    std::string args = "-j 2 -p " + mobivert::test::ShellQuoted(preset) + " -o " +
                       mobivert::test::ShellQuoted(dir.File("out")) + " " + options;
    for (const std::string& source : sources)
        args += " " + mobivert::test::ShellQuoted(Fixture(source));
    return mobivert::test::RunCliThroughShell("env XDG_CONFIG_HOME=" + dir.File("cfg") +
                                                  " XDG_STATE_HOME=" + dir.File("state"),
                                              args, true, log);
}

std::string OutputOf(const TempDir& dir, const std::string& source, const std::string& preset) {
    return dir.File("out/" + std::filesystem::path(source).stem().string() + " (" +
                    PresetName(preset) + ")" + PresetExtension(preset));
}

struct Expected {
    const char* Preset;
    const char* Container; // MediaInfo's format
    const char* Codec;     // of the video, or of the sound for audio presets
};

const Expected kPresets[] = {
    {"MP4 H.264 (*.mp4)", "MPEG-4", "AVC"},      {"MP4 H.265 (*.mp4)", "MPEG-4", "HEVC"},
    {"WebM VP9 (*.webm)", "WebM", "VP9"},        {"WebM AV1 (*.webm)", "WebM", "AV1"},
    {"MKV H.264 (*.mkv)", "Matroska", "AVC"},    {"M4A AAC (*.m4a)", "MPEG-4", "AAC"},
    {"Opus Audio (*.opus)", "Ogg", "Opus"},      {"FLAC Lossless (*.flac)", "FLAC", "FLAC"},
    {"ALAC Lossless (*.m4a)", "MPEG-4", "ALAC"}, {"OGG Vorbis (*.ogg)", "Ogg", "Vorbis"},
};

} // namespace

TEST(ModernPresetTest, TenPresetsAfterTheTwentyOneWithEncodersTheLibrariesHave) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    ASSERT_EQ(Presets().size(), 21u);
    ASSERT_EQ(NumberedPresetCount(), 31);
    EXPECT_EQ(PresetByNumber(21)->Text, std::string("Wave Audio (*.wav)"));
    EXPECT_EQ(PresetByNumber(32), nullptr);
    for (int i = 0; i < 10; ++i) {
        const TPreset* preset = PresetByNumber(22 + i);
        ASSERT_NE(preset, nullptr);
        EXPECT_EQ(preset->Text, std::string(kPresets[i].Preset));
        EXPECT_TRUE(IsModernPreset(preset->Text) && FindPreset(preset->Text) == preset);
        // The libraries here have every encoder the presets name, so none is refused.
        mobivert::converter::TOutputOptions record;
        record.DisableVideo = !*preset->VideoCodec;
        record.VideoCodec = preset->VideoCodec;
        record.AudioCodec = preset->AudioCodec;
        EXPECT_EQ(MissingEncoderReason(*preset, record), "") << preset->Text;
    }
    EXPECT_FALSE(IsModernPreset("MPEG-4 Video (*.mp4)"));
    // An encoder the libraries lack is named, with the fallback the preset would have taken.
    mobivert::converter::TOutputOptions record;
    record.VideoCodec = "libsvtav1-missing";
    record.AudioCodec = "libopus";
    EXPECT_EQ(MissingEncoderReason(*FindPreset("WebM AV1 (*.webm)"), record),
              "WebM AV1 needs the libsvtav1-missing encoder (or libaom-av1), which the FFmpeg "
              "libraries in use do not have");
}

TEST(ModernPresetTest, EveryPresetConvertsTodaysSourcesPlayablyAtTheirLength) {
    const std::vector<std::string> videoSources = {"portrait_90.mp4", "h264_10bit.mp4",
                                                   "late_video.mp4", "tagged.flac"};
    const std::vector<std::string> audioSources = {"portrait_90.mp4",
                                                   "late_video.mp4",
                                                   "tagged.flac",
                                                   "tagged_cover.mp3",
                                                   "limits_1920x1080_96k_8ch.mkv",
                                                   "deep_24bit.flac"};
    for (const Expected& e : kPresets) {
        TempDir dir;
        const bool video = !PresetIsAudioOnly(e.Preset);
        const auto& sources = video ? videoSources : audioSources;
        std::string log;
        ASSERT_EQ(Convert(dir, e.Preset, sources, "-q", log), 0) << e.Preset << "\n" << log;
        for (const std::string& source : sources) {
            const std::string in = Fixture(source);
            const std::string out = OutputOf(dir, source, e.Preset);
            SCOPED_TRACE(out);
            ASSERT_TRUE(std::filesystem::exists(out)) << log;
            EXPECT_TRUE(mobivert::test::PlaysInGStreamer(out));
            EXPECT_EQ(MediaInfoText(out, "General;%Format%"), e.Container);
            EXPECT_NEAR(MediaInfoSeconds(out), MediaInfoSeconds(in), 0.05 * MediaInfoSeconds(in));
            if (source == "tagged.flac" || source == "tagged_cover.mp3") {
                EXPECT_EQ(MediaInfoText(out, "General;%Title%"), "Song Title");
            }
            const std::string extension = PresetExtension(e.Preset);
            if (source == "tagged_cover.mp3" && (extension == ".m4a" || extension == ".flac")) {
                EXPECT_EQ(MediaInfoText(out, "General;%Cover%"), "Yes");
            }
            const bool hasVideo = !MediaInfoText(in, "Video;%Format%").empty();
            if (video && hasVideo) {
                // Upright at the source's shown size, constant at the source's rate.
                const auto shown = mobivert::test::MediaInfoVideo(in);
                const bool turned = source == "portrait_90.mp4";
                EXPECT_EQ(MediaInfoText(
                              out, "Video;%Format% %Width%x%Height% %FrameRate% %FrameRate_Mode%"),
                          std::string(e.Codec) + " " +
                              std::to_string(turned ? shown.Height : shown.Width) + "x" +
                              std::to_string(turned ? shown.Width : shown.Height) + " 25.000 CFR");
            } else {
                EXPECT_EQ(MediaInfoText(out, "Video;%Format%"), "");
            }
            if (video)
                continue;
            // Sound presets: the source's channels; lossless keeps the rate and the depth (16
            // bits from lossy sources), FLAC every sample as GStreamer decodes it.
            const std::string audio =
                MediaInfoText(out, "Audio;%Format% %Channel(s)% %SamplingRate%");
            const std::string rate = e.Codec == std::string("Opus")
                                         ? "48000"
                                         : MediaInfoText(in, "Audio;%SamplingRate%");
            EXPECT_EQ(audio, std::string(e.Codec) + " " + MediaInfoText(in, "Audio;%Channel(s)%") +
                                 " " + rate);
            if (e.Codec == std::string("FLAC") || e.Codec == std::string("ALAC")) {
                const std::string depth = MediaInfoText(in, "Audio;%BitDepth%");
                EXPECT_EQ(MediaInfoText(out, "Audio;%BitDepth%"), depth.empty() ? "16" : depth);
            }
            if (e.Codec == std::string("FLAC") && source.find(".flac") != std::string::npos) {
                const std::string samples = DecodedSamples(in, dir.File("in.raw"));
                EXPECT_GT(samples.size(), 100000u);
                EXPECT_TRUE(samples == DecodedSamples(out, dir.File("out.raw")));
            }
        }
        if (e.Codec == std::string("HEVC")) {
            EXPECT_EQ(MediaInfoText(OutputOf(dir, "portrait_90.mp4", e.Preset), "Video;%CodecID%"),
                      "hvc1");
        }
    }
}

TEST(ModernPresetTest, LargerQualityNumbersGiveSmallerVideoAndBadNumbersAreRefused) {
    for (int i = 0; i < 4; ++i) {
        const TPreset& preset = ModernPresets()[i];
        TempDir plain, coarse;
        std::string log;
        ASSERT_EQ(Convert(plain, preset.Text, {"zone_plate.mp4"}, "-q", log), 0) << log;
        ASSERT_EQ(Convert(coarse, preset.Text, {"zone_plate.mp4"},
                          "-q --quality " + std::to_string(preset.DefaultQuality + 12), log),
                  0)
            << log;
        const std::string a = OutputOf(plain, "zone_plate.mp4", preset.Text);
        const std::string b = OutputOf(coarse, "zone_plate.mp4", preset.Text);
        EXPECT_GT(std::filesystem::file_size(a), std::filesystem::file_size(b) * 5 / 4)
            << preset.Text;
        EXPECT_TRUE(mobivert::test::PlaysInGStreamer(b));
    }
    struct Refusal {
        std::string Options;
        std::string Message;
    };
    for (const Refusal& r : std::vector<Refusal>{
             {"-p 22 --quality 52", "--quality: The quality must be from 0 to 51"},
             {"-p 24 --quality x", "--quality: The quality must be an integer value"},
             {"-p 3 --quality 20", "--quality applies only to the modern video presets"},
             {"-p 29 --quality 20", "--quality applies only to the modern video presets"},
             {"-p 22 --quality 20 --video-bitrate 900", "cannot be used together"},
             {"-p 22 --channels 9.1", "--channels takes one of source, Mono, Stereo, 5.1, 7.1"},
             {"-p 22 --size 1000x1000", "--size takes one of source, 3840x2160"}}) {
        std::string log;
        EXPECT_EQ(mobivert::test::RunCliThroughShell("", r.Options + " x.mp4", true, log), 2);
        EXPECT_NE(log.find(r.Message), std::string::npos) << r.Options << "\n" << log;
    }
}

TEST(ModernPresetTest, ChoicesOfTodayReachTheOutputsAndMatroskaKeepsWhatItHolds) {
    TempDir dir;
    std::string log;
    // A 1080p, 96 kHz 7.1 source fitted into 1280x720 at 30 fps, 5.1 at 48 kHz, and a bit rate.
    ASSERT_EQ(Convert(dir, "MP4 H.264 (*.mp4)", {"limits_1920x1080_96k_8ch.mkv"},
                      "-q --size 1280x720 --fps 30 --channels 5.1 --sample-rate 48000 "
                      "--video-bitrate 900",
                      log),
              0)
        << log;
    const std::string out = OutputOf(dir, "limits_1920x1080_96k_8ch.mkv", "MP4 H.264 (*.mp4)");
    EXPECT_EQ(MediaInfoText(out, "Video;%Width%x%Height% %FrameRate%"), "1280x720 30.000");
    EXPECT_EQ(MediaInfoText(out, "Audio;%Channel(s)% %SamplingRate%"), "6 48000");
    EXPECT_NE(MediaInfoText(out, "Video;%Encoded_Library_Settings%").find("rc=abr"),
              std::string::npos);
    // Vorbis goes into Matroska as it is; a channel choice makes it AAC.
    TempDir copied, chosen;
    ASSERT_EQ(Convert(copied, "MKV H.264 (*.mkv)", {"limits_854x480_44k_6ch.mkv"}, "-q", log), 0);
    ASSERT_EQ(Convert(chosen, "MKV H.264 (*.mkv)", {"limits_854x480_44k_6ch.mkv"},
                      "-q --channels stereo", log),
              0);
    const std::string source = "limits_854x480_44k_6ch.mkv";
    EXPECT_EQ(
        MediaInfoText(OutputOf(copied, source, "MKV H.264 (*.mkv)"), "Audio;%Format% %Channel(s)%"),
        "Vorbis 6");
    EXPECT_EQ(
        MediaInfoText(OutputOf(chosen, source, "MKV H.264 (*.mkv)"), "Audio;%Format% %Channel(s)%"),
        "AAC 2");
    // SubRip subtitles stay SubRip (the engine alone would make them the container's ASS).
    ASSERT_EQ(Convert(copied, "MKV H.264 (*.mkv)", {"subtitled.mkv"}, "-q", log), 0) << log;
    const std::string subtitled = OutputOf(copied, "subtitled.mkv", "MKV H.264 (*.mkv)");
    EXPECT_EQ(MediaInfoText(subtitled, "Text;%Format% %CodecID%"), "UTF-8 S_TEXT/UTF8");
    EXPECT_TRUE(mobivert::test::PlaysInGStreamer(subtitled));
}

TEST(ModernPresetTest, PicturesFitIntoTheChosenBoxKeepingTheirShapeAndEvenSides) {
    struct Case {
        double Width, Height;
        int BoxWidth, BoxHeight, FitWidth, FitHeight;
    };
    for (const Case& c :
         std::vector<Case>{{1920, 1080, 1280, 720, 1280, 720}, // same shape
                           {1080, 1920, 1280, 720, 720, 1280}, // portrait: the box turns with it
                           {1440, 1080, 1280, 720, 960, 720},  // 4:3 in a 16:9 box
                           {853.3, 480, 640, 360, 640, 360},   // shown width with its sample aspect
                           {322, 242, 640, 360, 322, 242}, // smaller than the box: never enlarged
                           {4096, 1716, 1920, 1080, 1920, 804}}) {
        int width = 0, height = 0;
        FitIntoBox(c.Width, c.Height, c.BoxWidth, c.BoxHeight, width, height);
        EXPECT_EQ(width, c.FitWidth) << c.Width << "x" << c.Height;
        EXPECT_EQ(height, c.FitHeight) << c.Width << "x" << c.Height;
    }
}
