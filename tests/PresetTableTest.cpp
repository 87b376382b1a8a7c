// The preset list against the real libraries: every preset's extension finds a muxer and every
// codec it names (after the successor names) finds an encoder of the right kind; the names and
// extensions derived from a preset's text; the audio-extension rule.

#include "app/shared/Presets.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"

#include <gtest/gtest.h>
#include <set>

using namespace mobivert::app;

class PresetTableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true)); }
};

TEST_F(PresetTableTest, ListStartsWithClickToSelectThenTwentyOneDistinctPresets) {
    std::vector<std::string> texts = PresetListTexts();
    ASSERT_EQ(texts.size(), 22u);
    EXPECT_EQ(texts[0], "Click to select");
    EXPECT_EQ(FindPreset("Click to select"), nullptr);
    std::set<std::string> names;
    for (size_t i = 1; i < texts.size(); ++i) {
        const TPreset* preset = FindPreset(texts[i]);
        ASSERT_NE(preset, nullptr) << texts[i];
        // "name (*.ext)": the derived name and extension rebuild the text.
        std::string rebuilt =
            texts[i].substr(0, texts[i].find(" (")) + " (*" + PresetExtension(texts[i]) + ")";
        EXPECT_EQ(rebuilt, texts[i]);
        EXPECT_TRUE(names.insert(PresetName(texts[i])).second) << texts[i];
    }
    // Lookups are exact: no trimming, no case folding.
    EXPECT_EQ(FindPreset("wave audio (*.wav)"), nullptr);
    EXPECT_EQ(FindPreset("Wave Audio (*.wav) "), nullptr);
}

TEST_F(PresetTableTest, EveryExtensionHasAMuxerAndEveryCodecAnEncoder) {
    for (const TPreset& preset : Presets()) {
        std::string file = "x" + PresetExtension(preset.Text);
        EXPECT_NE(av::av_guess_format(nullptr, file.c_str(), nullptr), nullptr) << preset.Text;
        for (auto [name, type] : {std::pair{preset.VideoCodec, AVMEDIA_TYPE_VIDEO},
                                  std::pair{preset.AudioCodec, AVMEDIA_TYPE_AUDIO}}) {
            if (!*name)
                continue;
            std::string successor = SuccessorCodecName(name);
            const AVCodec* codec = av::avcodec_find_encoder_by_name(successor.c_str());
            ASSERT_NE(codec, nullptr) << preset.Text << ": " << successor;
            EXPECT_EQ(codec->type, type) << preset.Text << ": " << successor;
        }
    }
}

TEST_F(PresetTableTest, GoneCodecNamesMapToTheirSuccessorsOnly) {
    EXPECT_EQ(SuccessorCodecName("libamr_nb"), "libopencore_amrnb");
    EXPECT_EQ(SuccessorCodecName("libfaac"), "aac");
    EXPECT_EQ(SuccessorCodecName("libmp3lame"), "libmp3lame");
    EXPECT_EQ(SuccessorCodecName(""), "");
    // The old names really are gone, so the table could not be used as it stands.
    EXPECT_EQ(av::avcodec_find_encoder_by_name("libamr_nb"), nullptr);
    EXPECT_EQ(av::avcodec_find_encoder_by_name("libfaac"), nullptr);
}

TEST_F(PresetTableTest, AudioExtensionsAreWholeCaseSensitiveWordsAndEmptyMatchesNothing) {
    for (const char* audio :
         {".aac", ".ac3", ".mp2", ".mp3", ".wav", ".wma", ".amr", ".ogg", ".flac", ".ra"})
        EXPECT_TRUE(IsAudioExtension(audio)) << audio;
    for (const char* video : {".avi", ".mp4", ".rm", ".mkv", ".3gp", ".WAV", ".Mp3", ""})
        EXPECT_FALSE(IsAudioExtension(video)) << video;
    // Fragments of an audio extension, or of two of them with the blank between, are not one.
    for (const char* fragment :
         {".fla", ".m", ".mp", ".ac", ".a", ".", "aac", ".aac .ac3", "c3 .mp"})
        EXPECT_FALSE(IsAudioExtension(fragment)) << fragment;
}

TEST_F(PresetTableTest, OnlyTheTwo3gpPresetsRefuseTheOptions) {
    int refusing = 0;
    for (const std::string& text : PresetListTexts())
        refusing += !PresetAcceptsOptions(text);
    EXPECT_EQ(refusing, 2);
    EXPECT_FALSE(PresetAcceptsOptions("3GPP 128*96 (*.3gp)"));
    EXPECT_TRUE(PresetAcceptsOptions("3GPP2 128*96 (*.3g2)"));
    EXPECT_TRUE(PresetAcceptsOptions("Click to select"));
}
