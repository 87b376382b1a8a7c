// The settings kept between runs in config.ini and the INI file that holds them; the checks of
// the stored output choices.

#include "app/shared/ConversionDriver.h"
#include "app/shared/Settings.h"
#include "app/shared/StoredChoices.h"
#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace mobivert::app;
using mobivert::test::ScopedVariable;
using mobivert::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(DriverSettingsTest, MissingConfigGivesHomeCorvelVideoAndNoSameFolder) {
    TempDir home;
    ScopedVariable env("HOME", home.Path().string());
    TMainSettings settings = LoadMainSettings(home.File("nowhere/config.ini"));
    EXPECT_EQ(settings.OutputFolder, home.File("CorvelVideo"));
    EXPECT_FALSE(settings.SameFolder);
}

TEST(DriverSettingsTest, ConfigPathFollowsXdgConfigHomeElseDotConfig) {
    TempDir home;
    ScopedVariable envHome("HOME", home.Path().string());
    {
        ScopedVariable config("XDG_CONFIG_HOME", home.File("cfg"));
        EXPECT_EQ(ConfigFilePath(), home.File("cfg/Corvel/Mobivert/config.ini"));
    }
    ScopedVariable relative("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(ConfigFilePath(), home.File(".config/Corvel/Mobivert/config.ini"));
}

TEST(DriverSettingsTest, ReadsMainSectionCaseInsensitivelyAndKeepsOtherContentOnSave) {
    TempDir dir;
    std::string path = dir.File("config.ini");
    std::ofstream(path) << "; written by hand\n"
                           "[Other]\n"
                           "strOutput=/not/this/one\n"
                           "[main]\n"
                           "STROUTPUT = /videos/out \n"
                           "booSameFolder=1\n"
                           "[Later]\n"
                           "key=value\n";
    TMainSettings settings = LoadMainSettings(path);
    EXPECT_EQ(settings.OutputFolder, "/videos/out");
    EXPECT_TRUE(settings.SameFolder);

    std::string error;
    TMainSettings changed;
    changed.OutputFolder = "/new folder";
    ASSERT_TRUE(SaveMainSettings(path, changed, error)) << error;
    std::string text = ReadFile(path);
    EXPECT_NE(text.find("; written by hand\n[Other]\nstrOutput=/not/this/one\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[Later]\nkey=value\n"), std::string::npos) << text;
    TMainSettings again = LoadMainSettings(path);
    EXPECT_EQ(again.OutputFolder, "/new folder");
    EXPECT_FALSE(again.SameFolder);
}

TEST(DriverSettingsTest, SavingIntoAFreshFolderWritesSectionsMainAndOptions) {
    TempDir dir;
    std::string path = dir.File("deep/er/config.ini");
    std::string error;
    TMainSettings settings;
    settings.OutputFolder = "/out";
    settings.SameFolder = true;
    ASSERT_TRUE(SaveMainSettings(path, settings, error)) << error;
    EXPECT_EQ(ReadFile(path),
              "[Main]\nstrOutput=/out\nbooSameFolder=1\nstrPreset=\n"
              "intConversions=1\n[Options]\nintAudioChannel=0\nintSampleRate=0\n"
              "intAspect=0\nintFrameRate=0\nstrVideoBitRate=\n"
              "booVideoBitRateDefault=1\nstrAudioBitRate=\n"
              "booAudioBitRateDefault=1\nstrWidth=\nstrHeight=\n"
              "booResolutionDefault=1\nintModernChannel=0\n"
              "intModernSampleRate=0\nintModernFrameRate=0\nintModernSize=0\n"
              "intRateControl=0\nstrQuality=\nstrTargetSize=\nbooHardwareEncoding=1\n");
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST(DriverSettingsTest, UnusableValuesFallBackToTheDefaults) {
    TempDir home;
    ScopedVariable env("HOME", home.Path().string());
    std::string path = home.File("config.ini");
    std::ofstream(path) << "[Main]\nstrOutput=\nbooSameFolder=yes\n";
    TMainSettings settings = LoadMainSettings(path);
    EXPECT_EQ(settings.OutputFolder, home.File("CorvelVideo"));
    EXPECT_FALSE(settings.SameFolder);
    std::ofstream(path) << "[Main]\nstrOutput=~/Videos/out\n";
    EXPECT_EQ(LoadMainSettings(path).OutputFolder, home.File("Videos/out"));

    TIniFile ini(path);
    EXPECT_TRUE(ini.ReadBool("Main", "booSameFolder", true));
    EXPECT_EQ(ini.ReadString("Main", "missing", "fallback"), "fallback");
}

TEST(DriverSettingsTest, IntegerChecksAcceptSignsAndBlanksButNothingElse) {
    EXPECT_EQ(ParseIntegerText("320"), 320);
    EXPECT_EQ(ParseIntegerText(" 7 "), 7);
    EXPECT_EQ(ParseIntegerText("+5"), 5);
    EXPECT_EQ(ParseIntegerText("-3"), -3);
    EXPECT_EQ(ParseIntegerText("0"), 0);
    for (const char* text : {"", " ", "12a", "1 2", "3.5", "+-1", "++1", "0x10", "2147483648"})
        EXPECT_FALSE(ParseIntegerText(text).has_value()) << '"' << text << '"';
    EXPECT_EQ(ParseIntegerText("2147483647"), 2147483647);
}

TEST(DriverSettingsTest, ChoiceChecksRunInTheDialogsOrderAndSkipDefaults) {
    TStoredChoices choices;
    choices.WidthText = "abc"; // ignored while the resolution is at Default
    choices.VideoBitRateText = "12a";
    choices.AudioBitRateText = "x";
    EXPECT_EQ(CheckChoices(choices), "");

    choices.ResolutionDefault = false;
    choices.VideoBitRateDefault = false;
    choices.AudioBitRateDefault = false;
    EXPECT_EQ(CheckChoices(choices), "The width and height of the video must be integers");
    choices.WidthText = "320";
    choices.HeightText = "";
    EXPECT_EQ(CheckChoices(choices), "The width and height of the video must be integers");
    choices.HeightText = "240";
    EXPECT_EQ(CheckChoices(choices), "The video bit rate must be an integer value");
    choices.VideoBitRateText = "-5"; // passes: the component ignores rates that are not > 0
    EXPECT_EQ(CheckChoices(choices), "The audio bit rate must be an integer value");
    choices.AudioBitRateText = "64";
    EXPECT_EQ(CheckChoices(choices), "");
}

TEST(DriverSettingsTest, PresetChoicesAndConversionsAtOnceSurviveARestart) {
    TempDir dir;
    std::string path = dir.File("config.ini");
    TMainSettings settings;
    settings.OutputFolder = "/out";
    settings.Preset = "AVI Video (*.avi)";
    settings.ConversionsAtOnce = 2;
    settings.Choices.AudioChannelChoice = 1;
    settings.Choices.SampleRateChoice = 3;
    settings.Choices.AspectChoice = 2;
    settings.Choices.FrameRateChoice = 4;
    settings.Choices.VideoBitRateDefault = false;
    settings.Choices.VideoBitRateText = "800";
    settings.Choices.AudioBitRateText = "96"; // kept as typed while the box says Default
    settings.Choices.ResolutionDefault = false;
    settings.Choices.WidthText = "320";
    settings.Choices.HeightText = "240";
    std::string error;
    ASSERT_TRUE(SaveMainSettings(path, settings, error)) << error;

    TMainSettings again = LoadMainSettings(path);
    EXPECT_EQ(again.Preset, "AVI Video (*.avi)");
    EXPECT_EQ(again.ConversionsAtOnce, 2);
    const TStoredChoices& c = again.Choices;
    EXPECT_EQ(c.AudioChannelChoice, 1);
    EXPECT_EQ(c.SampleRateChoice, 3);
    EXPECT_EQ(c.AspectChoice, 2);
    EXPECT_EQ(c.FrameRateChoice, 4);
    EXPECT_FALSE(c.VideoBitRateDefault);
    EXPECT_EQ(c.VideoBitRateText, "800");
    EXPECT_TRUE(c.AudioBitRateDefault);
    EXPECT_EQ(c.AudioBitRateText, "96");
    EXPECT_FALSE(c.ResolutionDefault);
    EXPECT_EQ(c.WidthText + "x" + c.HeightText, "320x240");
}

TEST(DriverSettingsTest, StoredChoicesTheDialogWouldRefuseFallBackGroupByGroup) {
    TempDir dir;
    std::string path = dir.File("config.ini");
    std::ofstream(path) << "[Main]\nintConversions=0\n"
                           "[Options]\nintAudioChannel=3\nintSampleRate=-1\nintAspect=4\n"
                           "intFrameRate=x\nstrVideoBitRate=12a\nbooVideoBitRateDefault=0\n"
                           "strAudioBitRate=64\nbooAudioBitRateDefault=0\n"
                           "strWidth=32a\nstrHeight=\nbooResolutionDefault=0\n";
    TMainSettings settings = LoadMainSettings(path);
    EXPECT_EQ(settings.ConversionsAtOnce, 1);
    const TStoredChoices& c = settings.Choices;
    EXPECT_EQ(c.AudioChannelChoice, 0);
    EXPECT_EQ(c.SampleRateChoice, 0);
    EXPECT_EQ(c.AspectChoice, 4); // the last item is still one
    EXPECT_EQ(c.FrameRateChoice, 0);
    EXPECT_TRUE(c.VideoBitRateDefault);
    EXPECT_FALSE(c.AudioBitRateDefault);
    EXPECT_EQ(c.AudioBitRateText, "64");
    EXPECT_TRUE(c.ResolutionDefault);
    EXPECT_EQ(CheckChoices(c), "");

    // A width without a height is what the dialog takes (the height keeps the source's shape).
    std::ofstream(path) << "[Options]\nstrWidth=320\nstrHeight=\nbooResolutionDefault=0\n";
    const TStoredChoices widthOnly = LoadMainSettings(path).Choices;
    EXPECT_FALSE(widthOnly.ResolutionDefault);
    EXPECT_EQ(widthOnly.WidthText, "320");
}

TEST(DriverSettingsTest, ChoicesAreDescribedAndApplyOnlyWhereTheDialogCanChangeThem) {
    TStoredChoices c;
    EXPECT_EQ(DescribeChoices(c, true), "");
    c.AudioChannelChoice = 1;
    c.SampleRateChoice = 3;
    c.AspectChoice = 2;
    c.FrameRateChoice = 3;
    c.ResolutionDefault = false;
    c.WidthText = "321";
    c.HeightText = "240";
    c.VideoBitRateDefault = false;
    c.VideoBitRateText = "800";
    c.AudioBitRateDefault = false;
    c.AudioBitRateText = "64";
    EXPECT_EQ(DescribeChoices(c, true),
              "Mono, 22050Hz, 16:9, 25 fps, 321x240, video 800 kbit/s, audio 64 kbit/s");
    EXPECT_EQ(DescribeChoices(c, false), "Mono, 22050Hz, audio 64 kbit/s");

    // A 3GPP preset locks the dialog: nothing stored applies to it, even a size it would take.
    for (const char* locked : {"3GPP 128*96 (*.3gp)", "3GPP 176*144 (*.3gp)"})
        EXPECT_EQ(DescribeChoices(ChoicesForPreset(locked, c), true), "") << locked;
    for (const char* open : {"3GPP2 128*96 (*.3g2)", "AVI Video (*.avi)", "Wave Audio (*.wav)"})
        EXPECT_EQ(DescribeChoices(ChoicesForPreset(open, c), true), DescribeChoices(c, true));
}
