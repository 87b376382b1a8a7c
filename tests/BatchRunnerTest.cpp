// The batch runner on real conversions: each file goes from waiting to running to how it ended,
// the journal says what the file's state says, a stop in the middle leaves the rest canceled,
// and every report reaches the owner's thread and no other.

#include "app/shared/BatchRunner.h"
#include "support/LibrariesTest.h"
#include "support/OwnerLoop.h"
#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

using namespace mobivert::app;
using namespace mobivert::test;
using namespace std::chrono_literals;

namespace {

TJournalState JournalStateOf(TFileState state) {
    switch (state) {
    case TFileState::Done:
        return TJournalState::Done;
    case TFileState::Warnings:
        return TJournalState::Warnings;
    case TFileState::Failed:
        return TJournalState::Failed;
    case TFileState::Canceled:
        return TJournalState::Canceled;
    case TFileState::Refused:
        return TJournalState::Refused;
    default:
        return TJournalState::Pending;
    }
}

// Records what the runner reports, checking on each report what the runner says of the file.
class Recorder : public TBatchListener {
public:
    void TaskProgress(int task, int, const TFileFigures&) override {
        Seen(task);
        const TBatchFile* file = runner->FileOfTask(task);
        ASSERT_NE(file, nullptr);
        if (states[task].empty() || states[task].back() != file->State)
            states[task].push_back(file->State);
    }
    void FileEnded(const TBatchFile& file) override {
        Seen(file.Task);
        states[file.Task].push_back(file.State);
        journalStates[file.Task] = JournalStateFor(file.Source);
    }
    void BatchEnded(const TBatchCounts& ended) override {
        Seen(-1);
        counts = ended;
        ++batchEnds;
    }

    // What the journal on disk says of the source right now.
    std::optional<TJournalState> JournalStateFor(const std::string& source) const {
        std::ifstream in(runner->JournalPath());
        std::stringstream text;
        text << in.rdbuf();
        TJournalBatch batch;
        std::string reason;
        if (!ParseJournal(text.str(), batch, reason))
            return std::nullopt;
        for (const TJournalFile& file : batch.Files)
            if (file.Source == source)
                return file.State;
        return std::nullopt;
    }

    void Seen(int) { otherThread += std::this_thread::get_id() != owner; }

    TBatchRunner* runner = nullptr;
    std::thread::id owner = std::this_thread::get_id();
    std::map<int, std::vector<TFileState>> states;
    std::map<int, std::optional<TJournalState>> journalStates;
    TBatchCounts counts;
    int batchEnds = 0;
    int otherThread = 0;
};

class BatchRunnerTest : public LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        ASSERT_TRUE(runner.LoadLibraries(""));
        runner.Converter().SetLogLevel(mobivert::converter::llQuiet);
        runner.Converter().SetProgressInterval(10);
        recorder.runner = &runner;
        settings.PresetText = "Wave Audio (*.wav)";
        settings.OutputFolder = out.Path().string();
    }

    std::vector<TBatchSource> Sources(const std::vector<std::string>& paths) {
        std::vector<TBatchSource> sources(paths.size());
        for (size_t i = 0; i < paths.size(); ++i)
            sources[i].Path = paths[i];
        return sources;
    }

    // Builds the tasks, begins and runs the batch to its end on this thread.
    void Run(std::vector<TBatchSource>& sources, int jobs = 1) {
        runner.BuildTasks(sources, settings);
        for (const TBatchFile& file : runner.Files())
            EXPECT_EQ(file.State, TFileState::Pending) << file.Source;
        std::string error;
        ASSERT_TRUE(runner.Begin("test", settings, jobs, sources, error)) << error;
        runner.Start(jobs);
        ASSERT_TRUE(owner.RunUntil([this] { return recorder.batchEnds > 0; }, 120s));
    }

    TempDir out;
    TempDir state;
    ScopedVariable stateHome{"XDG_STATE_HOME", state.Path().string()};
    // The owner's thread is the test's own, running what the runner posts.
    OwnerLoop owner;
    std::atomic<int> postedElsewhere{0};
    Recorder recorder;
    TBatchRunner runner{recorder, [this](std::function<void()> call) {
                            postedElsewhere += std::this_thread::get_id() != recorder.owner;
                            owner.Post(std::move(call), 0);
                        }};
    TBatchSettings settings;
};

} // namespace

TEST_F(BatchRunnerTest, FilesGoFromWaitingThroughRunningToTheirEndAsTheJournalRecordsIt) {
    struct TCase {
        std::string Source;
        TFileState End;
    };
    const std::vector<TCase> cases = {
        {Fixture("sample.mp4"), TFileState::Done},
        {Fixture("mono8k.wav"), TFileState::Done},
        {out.File("missing.wav"), TFileState::Refused},
        {Fixture("h264_aac.mp4"), TFileState::Done},
        // Cut by another program's muxer: what is left converts.
        {Fixture("wmv2_wma_cut_50.asf"), TFileState::Done},
        // Its sound stops before the length the container states.
        {Fixture("cut_short.mp4"), TFileState::Warnings},
    };
    std::vector<std::string> paths;
    for (const TCase& c : cases)
        paths.push_back(c.Source);
    std::vector<TBatchSource> sources = Sources(paths);
    Run(sources);

    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].Source);
        const int task = sources[i].Task;
        if (cases[i].End == TFileState::Refused) {
            EXPECT_LT(task, 0);
            EXPECT_FALSE(sources[i].Error.empty());
            continue;
        }
        ASSERT_GE(task, 0);
        const std::vector<TFileState>& seen = recorder.states[task];
        // Running while reported on, then ended once.
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), cases[i].End);
        for (size_t k = 0; k + 1 < seen.size(); ++k)
            EXPECT_EQ(seen[k], TFileState::Running);
        EXPECT_EQ(runner.FileOfTask(task)->State, cases[i].End);
        EXPECT_EQ(runner.FileOfTask(task)->Message.empty(), cases[i].End == TFileState::Done);
        if (seen.size() > 1) {
            EXPECT_GE(runner.FileOfTask(task)->Percent, 0);
            EXPECT_LE(runner.FileOfTask(task)->Percent, 100);
        }
        EXPECT_EQ(recorder.journalStates[task], JournalStateOf(cases[i].End));
    }
    // The longest source reported its progress on the way.
    EXPECT_GT(recorder.states[sources[0].Task].size(), 1U);
    EXPECT_EQ(recorder.batchEnds, 1);
    EXPECT_EQ(recorder.counts.Converted, 5);
    EXPECT_EQ(recorder.counts.Failed + recorder.counts.Canceled, 0);
    EXPECT_EQ(runner.JournalPath(), "");
}

// A stop while the first file runs: that file ends as it really ended, the waiting ones are
// canceled, nothing is left pending, and the batch's end comes once, as the front ends showed.
TEST_F(BatchRunnerTest, StopInTheMiddleCancelsTheFilesThatWait) {
    std::vector<TBatchSource> sources =
        Sources({Fixture("sample.mp4"), Fixture("h264_aac.mp4"), Fixture("fps30.mp4")});
    bool stopped = false;
    runner.BuildTasks(sources, settings);
    std::string error;
    ASSERT_TRUE(runner.Begin("test", settings, 1, sources, error)) << error;
    runner.Start(1);
    ASSERT_TRUE(owner.RunUntil(
        [&] {
            if (!stopped && !recorder.states[0].empty() &&
                recorder.states[0].front() == TFileState::Running) {
                runner.Stop();
                stopped = true;
            }
            return recorder.batchEnds > 0;
        },
        120s));
    ASSERT_TRUE(runner.Stopping());
    const TFileState first = runner.Files()[0].State;
    EXPECT_TRUE(first == TFileState::Done || first == TFileState::Canceled);
    for (int task : {1, 2}) {
        EXPECT_EQ(runner.Files()[task].State, TFileState::Canceled) << task;
        EXPECT_EQ(recorder.states[task].back(), TFileState::Canceled) << task;
    }
    for (const TBatchFile& file : runner.Files())
        EXPECT_TRUE(HasEnded(file.State)) << file.Source;
    EXPECT_EQ(recorder.counts.Converted + recorder.counts.Canceled, 3);
    EXPECT_EQ(recorder.batchEnds, 1);
}

// Several conversions at once: the converter's threads hand every report over, and the listener
// hears each of them on the owner's thread only.
TEST_F(BatchRunnerTest, ReportsReachTheOwnersThreadAndNoOther) {
    std::vector<TBatchSource> sources =
        Sources({Fixture("tone.mp3"), Fixture("mono8k.wav"), Fixture("sine_stereo_44k.wav")});
    Run(sources, 2);
    EXPECT_GT(postedElsewhere, 0);
    EXPECT_EQ(recorder.otherThread, 0);
    EXPECT_EQ(recorder.counts.Converted, 3);
    // Reports still under way from the ended batch's tasks change nothing once they are gone.
    runner.ClearTasks();
    runner.TaskEnded(0, false, true, "late");
    EXPECT_EQ(runner.FileOfTask(0), nullptr);
    EXPECT_EQ(recorder.batchEnds, 1);
}

// A batch stopped before it started: its files are canceled without an end of their own.
TEST_F(BatchRunnerTest, ABatchEndedUnstartedCancelsItsFilesQuietly) {
    std::vector<TBatchSource> sources = Sources({Fixture("tone.mp3"), Fixture("mono8k.wav")});
    runner.BuildTasks(sources, settings);
    std::string error;
    ASSERT_TRUE(runner.Begin("test", settings, 1, sources, error)) << error;
    const std::string journal = runner.JournalPath();
    EXPECT_TRUE(std::filesystem::exists(journal));
    runner.EndUnstarted();
    EXPECT_TRUE(recorder.states.empty());
    EXPECT_EQ(recorder.batchEnds, 1);
    EXPECT_EQ(recorder.counts.Canceled, 2);
    for (const TBatchFile& file : runner.Files())
        EXPECT_EQ(file.State, TFileState::Canceled);
    EXPECT_FALSE(std::filesystem::exists(journal));
}
