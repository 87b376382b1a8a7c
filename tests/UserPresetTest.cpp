// Presets of the user's own: the file round trip, damaged files set aside and never used, the
// names a preset may have, and mobivert-cli saving one, converting with it (typed options over
// it), exporting and importing it.

#include "app/shared/UserPresets.h"
#include "support/CliPipe.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace mobivert::app;
using mobivert::test::TempDir;
namespace fs = std::filesystem;

TEST(UserPresetTest, FilesRoundTripAndDamagedOnesAreSetAsideWithTheirReason) {
    TempDir dir;
    TUserPreset preset{"Phone\\clips", "WebM VP9 (*.webm)", {}};
    preset.Choices.ModernChannelChoice = 4;
    preset.Choices.QualityText = "40";
    preset.Choices.AudioBitRateDefault = false;
    preset.Choices.AudioBitRateText = "96";
    std::string error;
    ASSERT_TRUE(SaveUserPreset(dir.Path().string(), preset, error)) << error;

    const std::string good = FormatUserPreset(preset);
    auto damaged = [&good](const std::string& from, const std::string& to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::vector<std::pair<std::string, std::string>> files = {
        {"header.preset", damaged("preset 1", "preset 9")},
        {"missing.preset", damaged("quality=40\n", "")},
        {"index.preset", damaged("modern-channels=4", "modern-channels=5")},
        {"format.preset", damaged("WebM VP9", "WebM VP7")},
        {"quality.preset", damaged("quality=40", "quality=64")},
        {"name.preset", damaged("name=Phone\\\\clips", "name=3")},
        {"twice.preset", good},
    };
    for (const auto& [name, text] : files)
        std::ofstream(dir.File(name)) << text;
    std::vector<std::string> messages;
    std::vector<TUserPreset> loaded = LoadUserPresets(dir.Path().string(), messages);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(FormatUserPreset(loaded[0]), good);
    EXPECT_EQ(loaded[0].Name, "Phone\\clips");
    EXPECT_EQ(loaded[0].Choices.AudioBitRateText, "96");
    ASSERT_EQ(messages.size(), files.size());
    for (const auto& [name, text] : files) {
        EXPECT_TRUE(fs::exists(dir.File(name + ".damaged"))) << name;
        EXPECT_FALSE(fs::exists(dir.File(name))) << name;
    }
    EXPECT_NE(messages[0].find("format.preset was set aside as format.preset.damaged: a setting "
                               "has a value this version does not accept"),
              std::string::npos)
        << messages[0];

    for (const char* name :
         {"", " ", "a/b", ".hidden", "22", "MP4 H.264 (*.mp4)", "Modern formats"})
        EXPECT_NE(CheckUserPresetName(name), "") << name;
    EXPECT_EQ(CheckUserPresetName("32"), "");
}

TEST(UserPresetTest, CommandLineSavesConvertsWithExportsAndImportsAPreset) {
    TempDir dir;
    const std::string env =
        "env XDG_CONFIG_HOME=" + dir.File("cfg") + " XDG_STATE_HOME=" + dir.File("state");
    std::string log;
    ASSERT_EQ(mobivert::test::RunCliThroughShell(
                  env, "-p 22 --quality 40 --channels mono --save-preset Small", true, log),
              0)
        << log;
    // The preset's choices, with a typed one over them.
    ASSERT_EQ(mobivert::test::RunCliThroughShell(
                  env,
                  "-q -p Small --fps 50 -o " + dir.File("out") + " " +
                      mobivert::test::ShellQuoted(mobivert::test::Fixture("portrait_90.mp4")),
                  true, log),
              0)
        << log;
    const std::string out = dir.File("out/portrait_90 (MP4 H.264).mp4");
    ASSERT_TRUE(fs::exists(out)) << log;
    std::string info = mobivert::test::RunCommand(
        "mediainfo '--Inform=Video;%FrameRate% %Encoded_Library_Settings%' " +
        mobivert::test::ShellQuoted(out) + "; mediainfo '--Inform=Audio;%Channel(s)%' " +
        mobivert::test::ShellQuoted(out));
    EXPECT_EQ(info.substr(0, 7), "50.000 ");
    EXPECT_NE(info.find("crf=40.0"), std::string::npos) << info;
    EXPECT_EQ(info.substr(info.size() - 2), "1\n");

    ASSERT_EQ(mobivert::test::RunCliThroughShell(
                  env, "--export-preset Small " + dir.File("small.preset"), true, log),
              0);
    fs::remove_all(dir.File("cfg"));
    log.clear();
    EXPECT_EQ(mobivert::test::RunCliThroughShell(env, "--import-preset " + dir.File("small.preset"),
                                                 true, log),
              0);
    EXPECT_EQ(mobivert::test::RunCliThroughShell(env, "--list-presets", true, log), 0);
    EXPECT_NE(log.find("\n    Small  (MP4 H.264 (*.mp4))\n"), std::string::npos) << log;
    EXPECT_EQ(mobivert::test::RunCliThroughShell(env, "-p Big x.mp4", true, log), 2);
    EXPECT_NE(log.find("Unknown preset: Big"), std::string::npos);
}

TEST(UserPresetTest, FilesWithoutTargetSizeAndHardwareAreReadWithTheirDefaults) {
    TUserPreset preset{"Small", "MP4 H.264 (*.mp4)", {}};
    preset.Choices.RateControlChoice = RATE_TARGET_SIZE;
    preset.Choices.TargetSizeText = "25MB";
    preset.Choices.HardwareEncoding = false;
    const std::string text = FormatUserPreset(preset);
    TUserPreset read;
    std::string reason;
    ASSERT_TRUE(ParseUserPreset(text, read, reason)) << reason;
    EXPECT_EQ(read.Choices.TargetSizeText, "25MB");
    EXPECT_FALSE(read.Choices.HardwareEncoding);

    auto without = [&text](const std::vector<std::string>& lines) {
        std::string t = text;
        for (const std::string& line : lines)
            t.erase(t.find(line), line.size());
        return t;
    };
    std::string older = without({"target-size=25MB\n", "hardware=0\n"});
    older.replace(older.find("rate-control=2"), 14, "rate-control=0");
    ASSERT_TRUE(ParseUserPreset(older, read, reason)) << reason;
    EXPECT_EQ(read.Choices.TargetSizeText, "");
    EXPECT_TRUE(read.Choices.HardwareEncoding);
    // Only the two newest keys may be missing, and only together; a target size must be a size.
    EXPECT_FALSE(ParseUserPreset(without({"hardware=0\n"}), read, reason));
    EXPECT_FALSE(ParseUserPreset(without({"target-size=25MB\n", "quality=\n"}), read, reason));
    std::string bad = text;
    bad.replace(bad.find("target-size=25MB"), 16, "target-size=huge");
    EXPECT_FALSE(ParseUserPreset(bad, read, reason));
}
