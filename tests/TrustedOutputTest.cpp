// Checked and published outputs through the converter and the driver: no warning for any
// fixture, a warning for a source cut short, a name taken while converting, a failed output,
// and the helpers for numbered names and the batch journal.

#include "app/shared/BatchJournal.h"
#include "app/shared/ConversionDriver.h"
#include "binding/AVLibs.h"
#include "converter/FFmpegTask.h"
#include "converter/OutputPublishing.h"
#include "converter/WorkFile.h"
#include "support/ConverterEvents.h"
#include "support/LibrariesTest.h"
#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

using namespace mobivert::app;
using mobivert::converter::NumberedName;
using mobivert::converter::PartialName;
using mobivert::converter::TAVConverter;
using mobivert::converter::TWorkFile;
using namespace mobivert::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TrustedOutputTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        ASSERT_TRUE(driver.LoadLibraries(""));
        converter.SetLogLevel(mobivert::converter::llQuiet);
        converter.PublishOutputs = true;
        events.Attach(converter, {.Logs = false, .Progress = false, .PublishedNames = true});
    }

    // Names and configures the outputs; Run converts them.
    std::vector<TBatchSource> Configure(const std::vector<std::string>& files,
                                        const std::string& preset) {
        settings.PresetText = preset;
        settings.OutputFolder = out.Path().string();
        std::vector<TBatchSource> sources;
        for (const std::string& file : files) {
            TBatchSource source;
            source.Path = file;
            sources.push_back(source);
        }
        driver.LoadSources(sources, settings);
        driver.ConfigureOutputs(sources, settings);
        return sources;
    }
    void Run(int jobs) {
        converter.StartConvert(jobs);
        ASSERT_TRUE(events.WaitBatchEnd(120s));
    }
    std::vector<std::string> HiddenFiles() const {
        std::vector<std::string> hidden;
        for (const auto& entry : fs::directory_iterator(out.Path()))
            if (entry.path().filename().string()[0] == '.')
                hidden.push_back(entry.path().string());
        return hidden;
    }

    TempDir out;
    TAVConverter converter;
    TConversionDriver driver{converter};
    TBatchSettings settings;
    ConverterEvents events;
};

} // namespace

TEST_F(TrustedOutputTest, EveryFixtureConvertsWithoutWarningsUnderItsChosenName) {
    std::vector<std::string> files;
    for (const char* name :
         {"h264_aac.mp4", "mpeg4_mp3.avi", "vp8_vorbis.webm", "theora_vorbis.ogg", "wmv2_wma.asf",
          "mpeg2_mp2.mpg", "h264.ts", "h264_pcm.mov", "h264_mp3.flv", "mono8k.wav",
          "sine_stereo_44k.wav", "tone.mp3", "surround51_48k.flac", "odd_size.mp4", "sar_8_9.mp4",
          "fps30.mp4", "fps15.mp4", "sample.mp4"})
        files.push_back(Fixture(name));
    std::vector<TBatchSource> sources = Configure(files, "AVI Video (*.avi)");
    ASSERT_EQ(converter.TaskCount(), static_cast<int>(files.size()));
    Run(2);
    for (const TBatchSource& source : sources) {
        const TerminateRecord end = events.EndOf(source.Task);
        EXPECT_TRUE(end.Finished && !end.Exception) << source.Path << ": " << end.Message;
        EXPECT_EQ(end.Message, "") << source.Path;
        EXPECT_EQ(end.Published, source.OutputPath);
        EXPECT_TRUE(fs::file_size(source.OutputPath) > 0) << source.OutputPath;
    }
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

TEST_F(TrustedOutputTest, SourceCutShortFinishesWithAWarningNamingEachStreamAndBothDurations) {
    std::vector<TBatchSource> sources = Configure({Fixture("cut_short.mp4")}, "AVI Video (*.avi)");
    ASSERT_EQ(converter.TaskCount(), 1) << sources[0].Error;
    Run(1);
    const TerminateRecord end = events.EndOf(0);
    EXPECT_TRUE(end.Finished);
    EXPECT_FALSE(end.Exception);
    // The index promises 4 s; about half of the media is there.
    EXPECT_TRUE(std::regex_match(end.Message, std::regex("video [12]\\.[0-9] s of 4\\.0 s, "
                                                         "audio [12]\\.[0-9] s of 4\\.0 s")))
        << end.Message;
    EXPECT_EQ(converter.Tasks(0)->Warnings, end.Message);
    // A warning is no failure: the output is published as usual.
    EXPECT_EQ(end.Published, sources[0].OutputPath);
    EXPECT_TRUE(fs::exists(end.Published));
}

TEST_F(TrustedOutputTest, StartTimeRecordingTimeAndFrameLimitsShortenWhatIsExpected) {
    // Each cuts the 3 s source short; the check must know it did.
    struct Case {
        std::string Input, Output;
    };
    const std::vector<Case> cases{
        {"ss=1\n", ""}, {"", "t=1\n"}, {"", "ss=1\n"}, {"", "vframes=10\n"}};
    for (const Case& c : cases) {
        settings.InputExtOptions = c.Input;
        settings.OutputExtOptions = c.Output;
        Configure({Fixture("sample.mp4")}, "AVI Video (*.avi)");
        ASSERT_EQ(converter.TaskCount(), 1) << c.Input << c.Output;
        const mobivert::converter::TOutputExpectation expected = converter.Tasks(0)->Expected;
        events.Clear();
        Run(1);
        EXPECT_TRUE(events.EndOf(0).Finished) << c.Input << c.Output;
        EXPECT_EQ(events.EndOf(0).Message, "") << c.Input << c.Output;
        ASSERT_EQ(expected.Streams.size(), 2u);
        for (const auto& stream : expected.Streams)
            EXPECT_LT(stream.DurationUs, 2100000) << c.Input << c.Output;
        converter.ClearTasks();
    }
}

TEST_F(TrustedOutputTest, ANameTakenDuringTheConversionKeepsItsFileAndTheOutputTakesTheNext) {
    std::vector<TBatchSource> sources = Configure({Fixture("h264_aac.mp4")}, "AVI Video (*.avi)");
    ASSERT_EQ(converter.TaskCount(), 1);
    const std::string chosen = sources[0].OutputPath;
    EXPECT_FALSE(fs::exists(chosen)); // only the hidden work file exists while converting
    std::ofstream(chosen) << "precious";
    Run(1);
    EXPECT_EQ(events.EndOf(0).Published, out.File("h264_aac (AVI Video [1]).avi"));
    EXPECT_EQ(ReadText(chosen), "precious");
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

TEST_F(TrustedOutputTest, AFailedConversionLeavesNothing) {
    // The WMA v2 encoder refuses to open below 24 kbit/s.
    settings.OutputExtOptions = "ab=16000";
    Configure({Fixture("tone.mp3")}, "Windows Media Audio (*.wma)");
    ASSERT_EQ(converter.TaskCount(), 1);
    Run(1);
    EXPECT_TRUE(events.EndOf(0).Exception);
    EXPECT_EQ(events.EndOf(0).Published, "");
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST(OutputNames, NumberedAndPartialNamesAndMovesThatNeverReplace) {
    EXPECT_EQ(NumberedName("/o/clip (MPEG-4 Video).mp4", 0), "/o/clip (MPEG-4 Video).mp4");
    EXPECT_EQ(NumberedName("/o/clip (MPEG-4 Video).mp4", 2), "/o/clip (MPEG-4 Video [2]).mp4");
    EXPECT_EQ(NumberedName("/o/clip.mp4", 1), "/o/clip [1].mp4");
    EXPECT_EQ(PartialName("/o/clip (MPEG-4 Video).mp4", 0), "/o/clip (MPEG-4 Video) [partial].mp4");
    EXPECT_EQ(PartialName("/o/clip (AVI Video).avi", 1), "/o/clip (AVI Video) [partial 1].avi");

    TempDir dir;
    std::ofstream(dir.File("a (X).avi")) << "first";
    std::ofstream(dir.File("a (X [1]).avi")) << "second";
    std::string error;
    TWorkFile work;
    ASSERT_TRUE(work.Create(dir.File("a (X).avi"), error)) << error;
    EXPECT_EQ(work.Path(), dir.File(".a (X).avi.part"));
    ASSERT_EQ(write(work.Descriptor(), "new", 3), 3);
    std::string moved =
        work.Publish([&](int n) { return NumberedName(dir.File("a (X).avi"), n); }, error);
    EXPECT_EQ(moved, dir.File("a (X [2]).avi")) << error;
    EXPECT_EQ(ReadText(dir.File("a (X).avi")), "first");
    EXPECT_EQ(ReadText(dir.File("a (X [1]).avi")), "second");
    EXPECT_EQ(ReadText(moved), "new");
    EXPECT_FALSE(fs::exists(dir.File(".a (X).avi.part")));
}

TEST(BatchJournal, RoundTripsAndRefusesDamagedOrUnknownJournals) {
    TJournalBatch batch;
    batch.Program = "mobivert-cli";
    batch.Settings.PresetText = "AVI Video (*.avi)";
    batch.Settings.OutputFolder = "/out/with\ttab";
    batch.Settings.OutputExtOptions = "t=10\nss=1\n";
    batch.Settings.Choices.AudioChannelChoice = 2;
    batch.Settings.Choices.VideoBitRateDefault = false;
    batch.Settings.Choices.VideoBitRateText = "800";
    batch.Jobs = 3;
    batch.Files = {{"/in/a\\b.mp4", "/out/a (AVI Video).avi", "/out/.a.part", TJournalState::Done},
                   {"/in/b\nc.mp4", "/out/b (AVI Video).avi", "", TJournalState::Pending}};
    const std::string text = FormatJournal(batch);
    TJournalBatch read;
    std::string reason;
    ASSERT_TRUE(ParseJournal(text, read, reason)) << reason;
    EXPECT_EQ(FormatJournal(read), text);
    EXPECT_EQ(read.Files[1].Source, "/in/b\nc.mp4");
    EXPECT_EQ(read.Settings.OutputExtOptions, "t=10\nss=1\n");
    EXPECT_EQ(read.Settings.Choices.VideoBitRateText, "800");

    auto replaced = [&text](const std::string& from, const std::string& to) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    for (const std::string& damaged :
         {text.substr(0, text.size() / 2), replaced("journal 2", "journal 3"),
          replaced("file=done", "file=half-done"), replaced("AVI Video (*.avi)", "Nothing"),
          replaced("jobs=3", "jobs=0"), replaced("channels=2", "channels=x"),
          replaced("video-bitrate=800", "video-bitrate=fast"), text + "more\n",
          replaced("program=", "programme=")}) {
        EXPECT_FALSE(ParseJournal(damaged, read, reason)) << damaged;
        EXPECT_FALSE(reason.empty());
    }
    ParseJournal(replaced("journal 2", "journal 3"), read, reason);
    EXPECT_EQ(reason, "written by an unknown version");

    // Ends appended after the batch; a last line cut by a crash does not count, a journal of
    // the version before (no appended lines) is still read.
    const std::string ended = "ended=1\tdone\t/out/b [1] (AVI Video).avi\n";
    ASSERT_TRUE(ParseJournal(text + ended + "ended=0\tfail", read, reason)) << reason;
    EXPECT_EQ(read.Files[1].State, TJournalState::Done);
    EXPECT_EQ(read.Files[1].Output, "/out/b [1] (AVI Video).avi");
    EXPECT_EQ(read.Files[0].Part, "/out/.a.part");
    ASSERT_TRUE(ParseJournal(replaced("journal 2", "journal 1"), read, reason)) << reason;
    EXPECT_EQ(read.Files[1].State, TJournalState::Pending);
    for (const char* bad :
         {"ended=2\tdone\t\n", "ended=0\tpending\t\n", "ended=0\tdone\n", "ended=x\tdone\t\n"})
        EXPECT_FALSE(ParseJournal(text + bad + ended, read, reason)) << bad;
}

TEST(BatchJournal, OnlyBatchesOfProgramsThatAreGoneAreFoundAndDamagedOnesAreSetAside) {
    TempDir state;
    ScopedVariable stateHome("XDG_STATE_HOME", state.Path().string());

    TJournalBatch batch;
    batch.Program = "mobivert";
    batch.Settings.PresetText = "Wave Audio (*.wav)";
    batch.Files = {{"/in/a.mp4", "/o/a.wav", "", TJournalState::Done, 0},
                   {"/in/b.mp4", "/o/b.wav", state.File("b.part"), TJournalState::Pending, 1},
                   {"/in/c.mp4", "/o/c.wav", state.File("c.part"), TJournalState::Pending, 2}};
    std::ofstream(state.File("c.part")) << "left by the dead run";
    TBatchJournal running;
    std::string error;
    ASSERT_TRUE(running.Begin(batch, error)) << error;
    mobivert::converter::TTaskStatus ended;
    ended.Finished = true;
    ended.PublishedName = "/o/b [1].wav";
    running.TaskEnded(1, ended);
    EXPECT_EQ(fs::path(running.Path()).parent_path(), fs::path(JournalFolder()));
    std::ofstream(JournalFolder() + "/batch-bad.journal") << "Corvel Mobivert batch journal 1\n";

    // The running batch holds its lock: only the damaged journal is dealt with.
    std::vector<std::string> messages;
    EXPECT_TRUE(FindUnfinishedBatches(messages).empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("set aside"), std::string::npos) << messages[0];
    EXPECT_TRUE(fs::exists(JournalFolder() + "/batch-bad.journal.damaged"));
    EXPECT_FALSE(fs::exists(JournalFolder() + "/batch-bad.journal"));

    // As if the program were killed: the journal stays, its lock is free.
    const std::string path = running.Path();
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    running.End();
    std::ofstream(path) << text;
    messages.clear();
    std::vector<TUnfinishedBatch> found = FindUnfinishedBatches(messages);
    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].PendingSources(), std::vector<std::string>{"/in/c.mp4"});
    EXPECT_EQ(found[0].Batch.Files[1].Output, "/o/b [1].wav");
    EXPECT_EQ(found[0].Batch.Files[1].Part, "");
    // Taken by one resumer at a time.
    EXPECT_TRUE(FindUnfinishedBatches(messages).empty());
    DiscardUnfinishedBatch(found[0]);
    EXPECT_FALSE(fs::exists(state.File("c.part")));
    EXPECT_FALSE(fs::exists(path));
}
