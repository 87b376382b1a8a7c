// The settings kept between runs in config.ini and the INI file that holds them; the checks of
// the stored output choices.

#include "app/shared/Settings.h"
#include "app/shared/StoredChoices.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>

using namespace mobivert::app;
using mobivert::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(DriverSettingsTest, MissingConfigGivesHomeCorvelVideoAndNoSameFolder) {
    TempDir home;
    ScopedEnv env("HOME", home.Path().string());
    TMainSettings settings = LoadMainSettings(home.File("nowhere/config.ini"));
    EXPECT_EQ(settings.OutputFolder, home.File("CorvelVideo"));
    EXPECT_FALSE(settings.SameFolder);
}

TEST(DriverSettingsTest, ConfigPathFollowsXdgConfigHomeElseDotConfig) {
    TempDir home;
    ScopedEnv envHome("HOME", home.Path().string());
    {
        ScopedEnv config("XDG_CONFIG_HOME", home.File("cfg"));
        EXPECT_EQ(ConfigFilePath(), home.File("cfg/Corvel/Mobivert/config.ini"));
    }
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/ignored");
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
    ASSERT_TRUE(SaveMainSettings(path, {"/new folder", false}, error)) << error;
    std::string text = ReadFile(path);
    EXPECT_NE(text.find("; written by hand\n[Other]\nstrOutput=/not/this/one\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[Later]\nkey=value\n"), std::string::npos) << text;
    TMainSettings again = LoadMainSettings(path);
    EXPECT_EQ(again.OutputFolder, "/new folder");
    EXPECT_FALSE(again.SameFolder);
}

TEST(DriverSettingsTest, SavingIntoAFreshFolderWritesSectionMainWithBothKeys) {
    TempDir dir;
    std::string path = dir.File("deep/er/config.ini");
    std::string error;
    ASSERT_TRUE(SaveMainSettings(path, {"/out", true}, error)) << error;
    EXPECT_EQ(ReadFile(path), "[Main]\nstrOutput=/out\nbooSameFolder=1\n");
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST(DriverSettingsTest, UnusableValuesFallBackToTheDefaults) {
    TempDir home;
    ScopedEnv env("HOME", home.Path().string());
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
