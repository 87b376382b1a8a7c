// Sources with sound only in containers that also hold video (.m4a, .opus, .mka) give every
// preset an output with their sound only; a source that holds next to nothing (one sample of
// sound) gives no output at all and a failure, whatever the preset.

#include "binding/AVLibs.h"
#include "support/CliPipe.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace mobivert::test;
namespace fs = std::filesystem;
using testing::HasSubstr;

namespace {

int RunCli(const std::string& args, std::string& output) {
    return RunCliThroughShell("", args, false, output);
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
        files.push_back(entry.path());
    return files;
}

TEST(HonestOutputTest, SoundOnlySourcesGiveSoundOnlyOutputsWithEveryPreset) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    const std::string sources = ShellQuoted(Fixture("sound_only.m4a")) + " " +
                                ShellQuoted(Fixture("sound_only.opus")) + " " +
                                ShellQuoted(Fixture("sound_only.mka"));
    for (int preset = 1; preset <= 21; ++preset) {
        SCOPED_TRACE("preset " + std::to_string(preset));
        TempDir dir;
        std::string output;
        int status = RunCli("-q -p " + std::to_string(preset) + " -o " +
                                ShellQuoted(dir.Path().string()) + " " + sources,
                            output);
        EXPECT_TRUE(status == 0 || status == 3) << status << "\n" << output;
        EXPECT_THAT(output, testing::Not(HasSubstr("Error found")));
        std::vector<fs::path> files = FilesIn(dir.Path());
        EXPECT_EQ(files.size(), 3u) << output;
        for (const fs::path& file : files) {
            SCOPED_TRACE(file.filename().string());
            MediaSummary media = ReadMedia(file.string());
            ASSERT_TRUE(media.Opened);
            const StreamSummary* sound = media.First(AVMEDIA_TYPE_AUDIO);
            ASSERT_NE(sound, nullptr);
            EXPECT_NEAR(sound->Duration(), 1.0, 0.15);
            EXPECT_EQ(media.First(AVMEDIA_TYPE_VIDEO), nullptr);
        }
    }
}

TEST(HonestOutputTest, SourceOfOneSampleGivesNoOutputWithEveryPreset) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    for (int preset = 1; preset <= 21; ++preset) {
        SCOPED_TRACE("preset " + std::to_string(preset));
        TempDir dir;
        std::string output;
        int status =
            RunCli("-q -p " + std::to_string(preset) + " -o " + ShellQuoted(dir.Path().string()) +
                       " " + ShellQuoted(Fixture("one_sample.webm")),
                   output);
        EXPECT_EQ(status, 1) << output;
        EXPECT_THAT(output, HasSubstr("one_sample.webm: Failed: "));
        EXPECT_THAT(output, HasSubstr("one_sample (")); // the output's own name
        EXPECT_THAT(output, HasSubstr("no media was written"));
        EXPECT_THAT(output, testing::Not(HasSubstr(".part")));
        EXPECT_THAT(output, testing::Not(HasSubstr("Done")));
        EXPECT_TRUE(FilesIn(dir.Path()).empty());
    }
}

} // namespace
