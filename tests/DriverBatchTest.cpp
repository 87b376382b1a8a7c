// The driver on a real converter: rebuilding tasks from a list of sources, configuring their
// outputs, removing the refused ones while the others keep their right task indexes, and
// running what is left.

#include "app/shared/ConversionDriver.h"
#include "binding/AVLibs.h"
#include "support/ConverterEvents.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace mobivert::app;
using mobivert::converter::TAVConverter;
using namespace mobivert::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class DriverBatchTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        ASSERT_TRUE(driver.LoadLibraries(""));
        converter.SetLogLevel(mobivert::converter::llQuiet);
        events.Attach(converter, {.Logs = false, .Progress = false});
        settings.OutputFolder = out.Path().string();
        settings.ReserveOutputNames = true;
    }

    std::vector<TBatchSource> Sources(const std::vector<std::string>& paths) {
        std::vector<TBatchSource> sources;
        for (const std::string& path : paths) {
            TBatchSource source;
            source.Path = path;
            sources.push_back(source);
        }
        return sources;
    }

    bool RunBatch() {
        converter.StartConvert(1);
        return events.WaitBatchEnd(60s);
    }

    TempDir out;
    TempDir in;
    TAVConverter converter;
    TConversionDriver driver{converter};
    TBatchSettings settings;
    ConverterEvents events;
};

} // namespace

TEST_F(DriverBatchTest, OddWidthRefusesEveryTaskWithVideoAndKeepsTheAudioOnes) {
    settings.PresetText = "AVI Video (*.avi)";
    settings.Choices.ResolutionDefault = false;
    settings.Choices.WidthText = "321";
    settings.Choices.HeightText = "240";
    auto sources = Sources({Fixture("h264_aac.mp4"), Fixture("tone.mp3"), Fixture("fps30.mp4"),
                            Fixture("mono8k.wav")});
    driver.LoadSources(sources, settings);
    ASSERT_EQ(converter.TaskCount(), 4);
    EXPECT_EQ(driver.ConfigureOutputs(sources, settings), 2);

    EXPECT_EQ(sources[0].Task, -1);
    EXPECT_EQ(sources[2].Task, -1);
    EXPECT_NE(sources[0].Error.find("multiple of 2"), std::string::npos) << sources[0].Error;
    EXPECT_EQ(sources[1].Task, 0);
    EXPECT_EQ(sources[3].Task, 1);
    for (const TBatchSource& source : sources) {
        if (source.Task < 0)
            continue;
        // The task at the source's index really is that source's.
        EXPECT_EQ(std::string(converter.TaskInputContext(source.Task)->url), source.Path);
    }
    // Refused tasks leave no reserved file behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(out.Path()))
        ++files;
    EXPECT_EQ(files, 2);

    ASSERT_TRUE(RunBatch());
    const std::vector<TerminateRecord> ends = events.TaskEnds();
    ASSERT_EQ(ends.size(), 2u);
    for (const TerminateRecord& end : ends)
        EXPECT_TRUE(end.Finished && !end.Exception) << end.Message;
    converter.ClearTasks();
    EXPECT_GT(fs::file_size(sources[1].OutputPath), 0u);
    EXPECT_GT(fs::file_size(sources[3].OutputPath), 0u);
}

TEST_F(DriverBatchTest, AudioOnlySourceWithoutAudioExtensionGetsASoundOnlyOutputFromAVideoPreset) {
    // Sound only under a name that says nothing (.m4a) is converted by a video preset into an
    // output with its sound only, as an .mp3 of the same bytes is.
    std::string copy = in.File("tone.m4a");
    fs::copy_file(Fixture("tone.mp3"), copy);
    settings.PresetText = "DivX Video (*.avi)";
    auto sources = Sources({copy, Fixture("h264_mp3.flv")});
    driver.LoadSources(sources, settings);
    EXPECT_EQ(driver.ConfigureOutputs(sources, settings), 2);
    EXPECT_EQ(sources[0].Task, 0);
    EXPECT_TRUE(sources[0].Error.empty()) << sources[0].Error;
    EXPECT_NE(sources[0].OutputPath, "");
    EXPECT_EQ(sources[1].Task, 1);

    // The same source with an audio preset is fine too.
    settings.PresetText = "MP3 MPEG Layer-3 (*.mp3)";
    driver.LoadSources(sources, settings);
    EXPECT_EQ(driver.ConfigureOutputs(sources, settings), 2);
    EXPECT_EQ(sources[0].Task, 0);
}

TEST_F(DriverBatchTest, SourcesThatAreNotReadableMediaFilesGetNoTaskAndAReason) {
    std::string empty = in.File("empty.mp4");
    std::ofstream(empty).close();
    std::string text = in.File("notes.avi");
    std::ofstream(text) << "This is a text file, not a video.\n";
    std::string fifo = in.File("pipe.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(in.Path() / "folder.mp4");

    settings.PresetText = "Wave Audio (*.wav)";
    auto sources = Sources(
        {in.File("missing.mp4"), in.File("folder.mp4"), empty, text, fifo, Fixture("tone.mp3")});
    driver.LoadSources(sources, settings);
    EXPECT_EQ(converter.TaskCount(), 1);
    EXPECT_NE(sources[0].Error.find("no such file"), std::string::npos) << sources[0].Error;
    EXPECT_NE(sources[1].Error.find("folder"), std::string::npos) << sources[1].Error;
    EXPECT_NE(sources[2].Error.find("empty"), std::string::npos) << sources[2].Error;
    EXPECT_NE(sources[3].Error.find(text), std::string::npos) << sources[3].Error;
    EXPECT_NE(sources[4].Error.find("not a regular file"), std::string::npos) << sources[4].Error;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(sources[i].Task, -1) << i;
    EXPECT_EQ(sources[5].Task, 0);
    EXPECT_EQ(sources[5].Error, "");
}
