// The converter component: properties, tasks, option records, the library log routing, and
// batches run threaded and synchronously with stop, pause and resume.

#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "converter/AVConverter.h"
#include "converter/FFmpegTask.h"
#include "converter/RecordText.h"
#include "converter/WorkerProtocol.h"
#include "support/ConverterEvents.h"
#include "support/MediaReader.h"
#include "support/OwnerLoop.h"
#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace mobivert::converter;
using namespace mobivert::test;
using namespace std::chrono_literals;
using testing::HasSubstr;

namespace {

class ConverterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastError();
        events.Attach(converter);
    }

    // Adds a stream-copy task of a fixture; with realTime the input is read at its own pace.
    int AddCopyTask(const std::string& fixture, bool realTime = false) {
        TInputOptions input;
        input.ExtOptions = realTime ? "re" : "";
        int index = converter.AddInputFile(Fixture(fixture), &input);
        EXPECT_GE(index, 0) << converter.LastError();
        TOutputOptions output;
        output.ExtOptions = "vcodec=copy\nacodec=copy";
        std::string out = dir.File("task" + std::to_string(outputs.size()) + ".mkv");
        outputs.push_back(out);
        EXPECT_TRUE(converter.SetOutputFile(index, out, &output)) << converter.LastError();
        return index;
    }
    // Three copies of a tone, the first read at its own pace (a second), started one at a time
    // in the batch's pre-loaded worker; its pid.
    pid_t StartThreeBehindAPreloadedWorker() {
        converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
        AddCopyTask("tone.mp3", true);
        AddCopyTask("tone.mp3");
        AddCopyTask("tone.mp3");
        converter.StartConvert(1);
        const std::vector<pid_t> workers = converter.WorkerPids();
        return workers.size() == 1 ? workers[0] : -1;
    }

    // No tasks and no end reports, with each conversion in a worker process or in this one.
    void StartOver(bool inWorkers) {
        converter.ClearTasks();
        converter.RunInWorkers = inWorkers;
        converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
        std::lock_guard lock(events.Mutex);
        events.Terminates.clear();
    }

    TempDir dir;
    std::vector<std::string> outputs;
    TAVConverter converter;
    ConverterEvents events;
};

TEST_F(ConverterTest, PropertiesAndTheirRules) {
    converter.SetProgressInterval(50);
    EXPECT_EQ(converter.ProgressInterval(), 100);
    converter.SetProgressInterval(101);
    EXPECT_EQ(converter.ProgressInterval(), 101);
    EXPECT_STREQ(TAVConverter::Version(), "2.2");
    EXPECT_EQ(converter.LogLevel(), llInfo);
    converter.SetLogLevel(llQuiet);
    EXPECT_EQ(av::av_log_get_level(), -1);
    EXPECT_EQ(mobivert::binding::CachedLogLevel(), -1);
    converter.SetLogLevel(llDebug);
    EXPECT_EQ(av::av_log_get_level(), 2);
}

TEST_F(ConverterTest, LevelMapping) {
    EXPECT_EQ(MapLogLevel(-1), llQuiet);
    EXPECT_EQ(MapLogLevel(0), llError);
    EXPECT_EQ(MapLogLevel(1), llInfo);
    EXPECT_EQ(MapLogLevel(3), llAll);
    EXPECT_EQ(MapLogLevel(48), llAll);
}

TEST_F(ConverterTest, LibraryLinesAreJoinedUntilTheirLineBreak) {
    av::av_log(nullptr, AV_LOG_PANIC, "first part");
    {
        std::lock_guard lock(events.Mutex);
        EXPECT_TRUE(events.Logs.empty());
    }
    av::av_log(nullptr, AV_LOG_PANIC, " and %s\n", "second");
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Logs.size(), 1u);
    EXPECT_EQ(events.Logs[0].Text, "first part and second");
    EXPECT_EQ(events.Logs[0].Index, -1);
    EXPECT_EQ(events.Logs[0].Level, llError);
}

TEST_F(ConverterTest, LibraryLinesWithAContextCarryItsPrefix) {
    AVFormatContext* context = av::avformat_alloc_context();
    av::av_log(context, AV_LOG_PANIC, "prefixed\n");
    av::avformat_free_context(context);
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Logs.size(), 1u);
    EXPECT_THAT(events.Logs[0].Text, testing::MatchesRegex(R"(\[NULL @ [0-9A-F]{8,}\]prefixed)"));
}

// The library's errors reach the log as errors whenever errors are shown; its other lines
// only within the level, and nothing at all when the log is quiet.
TEST_F(ConverterTest, LibraryErrorsAreRoutedAsErrorsOtherLinesFollowTheLevel) {
    av::av_log(nullptr, AV_LOG_ERROR, "shown\n");
    av::av_log(nullptr, AV_LOG_WARNING, "not shown\n");
    converter.SetLogLevel(llQuiet);
    av::av_log(nullptr, AV_LOG_ERROR, "not shown either\n");
    av::av_log(nullptr, AV_LOG_PANIC, "nor this\n");
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Logs.size(), 1u);
    EXPECT_EQ(events.Logs[0].Text, "shown");
    EXPECT_EQ(events.Logs[0].Level, llError);
}

TEST_F(ConverterTest, LongLibraryLinesAreCutSafely) {
    std::string huge(10000, 'x');
    av::av_log(nullptr, AV_LOG_PANIC, "%s\n", huge.c_str());
    av::av_log(nullptr, AV_LOG_PANIC, "next\n");
    std::lock_guard lock(events.Mutex);
    ASSERT_FALSE(events.Logs.empty());
    EXPECT_LT(events.Logs[0].Text.size(), 2048u);
    EXPECT_EQ(events.Logs.back().Text, "next");
}

TEST_F(ConverterTest, LinesFromAnotherThreadHaveNoTask) {
    AddCopyTask("tone.mp3");
    std::thread([] { av::av_log(nullptr, AV_LOG_PANIC, "foreign\n"); }).join();
    std::lock_guard lock(events.Mutex);
    ASSERT_FALSE(events.Logs.empty());
    EXPECT_EQ(events.Logs.back().Text, "foreign");
    EXPECT_EQ(events.Logs.back().Index, -1);
}

TEST_F(ConverterTest, AddingAMissingFileLeavesNoTask) {
    AddCopyTask("tone.mp3");
    EXPECT_EQ(converter.AddInputFile(dir.File("missing.avi")), -1);
    EXPECT_EQ(converter.TaskCount(), 1);
    EXPECT_THAT(converter.LastError(), HasSubstr("missing.avi"));
    EXPECT_THAT(converter.LastError(), HasSubstr("no such file or directory"));
}

TEST_F(ConverterTest, TasksKnowTheirInputAndAreRenumberedOnRemoval) {
    for (int i = 0; i < 3; ++i)
        AddCopyTask("tone.mp3");
    ASSERT_EQ(converter.TaskCount(), 3);
    EXPECT_STREQ(converter.TaskInputContext(2)->url, Fixture("tone.mp3").c_str());
    EXPECT_EQ(converter.Tasks(1)->Probe.AudioStreamCount(), 1);
    EXPECT_EQ(converter.Tasks(1)->InputOptions.FileName, Fixture("tone.mp3"));
    converter.RemoveTask(0);
    ASSERT_EQ(converter.TaskCount(), 2);
    EXPECT_EQ(converter.Tasks(0)->Index, 0);
    EXPECT_EQ(converter.Tasks(1)->Index, 1);
    converter.ClearTasks();
    EXPECT_EQ(converter.TaskCount(), 0);
}

TEST_F(ConverterTest, ExtraOptionsWithCrLfApplyInOrderWithoutTheirCr) {
    int index = converter.AddInputFile(Fixture("h264_aac.mp4"));
    ASSERT_GE(index, 0);
    TOutputOptions output;
    output.ExtOptions = "b=200k\r\nab=64k";
    ASSERT_TRUE(converter.SetOutputFile(index, dir.File("rates.mkv"), &output))
        << converter.LastError();
    TFFmpeg* task = converter.Tasks(index);
    int64_t video = 0, audio = 0;
    ASSERT_GE(av::av_opt_get_int(task->CodecOptContexts[AVMEDIA_TYPE_VIDEO], "b", 0, &video), 0);
    ASSERT_GE(av::av_opt_get_int(task->CodecOptContexts[AVMEDIA_TYPE_AUDIO], "b", 0, &audio), 0);
    EXPECT_EQ(video, 200000);
    EXPECT_EQ(audio, 64000);
}

// ExtOptions come before the record's always-assigned fields, which overwrite them;
// OverrideOptions come after everything, the target included, and win.
TEST_F(ConverterTest, OverrideOptionsWinOverTheRecordsFieldsAndTarget) {
    TInputOptions input;
    input.StartTime = 500;
    input.OverrideOptions = "ss=1";
    int index = converter.AddInputFile(Fixture("h264_aac.mp4"), &input);
    ASSERT_GE(index, 0);
    TOutputOptions output;
    output.ExtOptions = "async=1\nvsync=0";
    output.OverrideOptions = "vsync=2\ncopyts\ns=176x144";
    output.Target = 1; // vcd: 352x288 MPEG-1 at PAL
    ASSERT_TRUE(converter.SetOutputFile(index, dir.File("vcd.mpg"), &output))
        << converter.LastError();
    TFFmpeg* task = converter.Tasks(index);
    EXPECT_EQ(task->AudioSyncMethod, 0);
    EXPECT_EQ(task->VideoSyncMethod, 2);
    EXPECT_TRUE(task->CopyTs);
    EXPECT_EQ(task->InputTsOffsets[0], -1000000); // the input was read from 1 s, not 0.5 s
    EXPECT_EQ(task->OutputEncoders[0].front()->codec_id, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(task->OutputEncoders[0].front()->width, 176);
}

TEST_F(ConverterTest, TargetRecordCallsTheTargetPresetWithItsNorms) {
    int index = converter.AddInputFile(Fixture("h264_aac.mp4")); // 25 fps: PAL
    ASSERT_GE(index, 0);
    TOutputOptions output;
    output.Target = 2;
    output.TargetNorm = 0;
    output.TargetFallbackNorm = 1;
    ASSERT_TRUE(converter.SetOutputFile(index, dir.File("svcd.mpg"), &output))
        << converter.LastError();
    TFFmpeg* task = converter.Tasks(index);
    EXPECT_EQ(task->OutputEncoders[0].front()->width, 480);
    EXPECT_EQ(task->OutputEncoders[0].front()->height, 576);
    EXPECT_EQ(task->OutputEncoders[0].front()->codec_id, AV_CODEC_ID_MPEG2VIDEO);

    int plain = converter.AddInputFile(Fixture("h264_aac.mp4"));
    TOutputOptions none;
    none.ExtOptions = "vcodec=mpeg4\nan";
    ASSERT_TRUE(converter.SetOutputFile(plain, dir.File("plain.mkv"), &none))
        << converter.LastError();
    EXPECT_EQ(converter.Tasks(plain)->OutputEncoders[0].front()->width, 640);
}

TEST_F(ConverterTest, HookRangesAreParsedIntoTheTask) {
    int index = converter.AddInputFile(Fixture("h264_aac.mp4"));
    TOutputOptions output;
    output.ExtOptions = "vcodec=copy\nacodec=copy";
    output.HookRanges = " 5000-6000, 1000-2000 ,abc-2000, 9000-3000 ";
    ASSERT_TRUE(converter.SetOutputFile(index, dir.File("ranges.mkv"), &output));
    const auto& ranges = converter.Tasks(index)->HookTimeRanges;
    ASSERT_EQ(ranges.size(), 3u);
    // Sorted by end; equal ends keep their order.
    EXPECT_EQ(ranges[0].Start, 1000000);
    EXPECT_EQ(ranges[0].End, 2000000);
    EXPECT_EQ(ranges[1].Start, -1000);
    EXPECT_EQ(ranges[1].End, 2000000);
    EXPECT_EQ(ranges[2].Start, 5000000);
    EXPECT_EQ(ranges[2].End, 6000000);
}

TEST(TimestampTest, DaysSince1899BecomeUnixSecondsWithTheStandardBias) {
    tzset();
    // 25569 days is 1970-01-01 00:00 local standard time.
    EXPECT_EQ(TimestampToUnixSeconds(25569.0), timezone);
    EXPECT_EQ(TimestampToUnixSeconds(25569.5), timezone + 43200);
    int64_t now = TimestampToUnixSeconds(0.0);
    EXPECT_NEAR(static_cast<double>(now), static_cast<double>(time(nullptr)), 3600 + 5);
}

TEST_F(ConverterTest, EmptyBatchRaisesNothing) {
    converter.StartConvert(1);
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(events.Mutex);
    EXPECT_TRUE(events.Terminates.empty());
}

TEST_F(ConverterTest, OneAtATimeRunsTasksInOrderAndEndsTheBatchOnce) {
    for (int i = 0; i < 3; ++i)
        AddCopyTask("tone.mp3");
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd());
    EXPECT_EQ(events.TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
    for (auto& t : events.Terminates) {
        EXPECT_FALSE(t.Exception) << t.Message;
        EXPECT_TRUE(t.Finished);
        EXPECT_NE(t.Thread, gettid());
    }
    for (const std::string& out : outputs)
        EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "mp3");
}

TEST_F(ConverterTest, TwoAtATimeStartsTheThirdWhenOneEnds) {
    for (int i = 0; i < 3; ++i)
        AddCopyTask("sample.mp4", true);
    converter.StartConvert(2);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(converter.Tasks(0)->Running);
    EXPECT_TRUE(converter.Tasks(1)->Running);
    EXPECT_FALSE(converter.Tasks(2)->Running);
    ASSERT_TRUE(events.WaitBatchEnd());
    std::vector<int> order = events.TerminateOrder();
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.back(), -1);
    EXPECT_EQ(order[2], 2);
}

TEST_F(ConverterTest, SynchronousBatchRunsOnTheOwnersThreadOneHundredMsApart) {
    OwnerLoop loop;
    converter.PostToOwner = [&loop](std::function<void()> call, int delayMs) {
        loop.Post(std::move(call), delayMs);
    };
    for (int i = 0; i < 3; ++i)
        AddCopyTask("tone.mp3");
    converter.StartConvert(0);
    ASSERT_TRUE(loop.RunUntil([&] { return events.BatchEnded(); }, 30s));
    EXPECT_EQ(events.TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
    for (auto& t : events.Terminates)
        EXPECT_EQ(t.Thread, gettid());
    EXPECT_GE(events.Terminates[1].When - events.Terminates[0].When, 100ms);
    EXPECT_GE(events.Terminates[2].When - events.Terminates[1].When, 100ms);
}

TEST_F(ConverterTest, StopDuringTheFirstTaskReportsEveryTaskAndTheBatch) {
    for (int i = 0; i < 3; ++i)
        AddCopyTask("sample.mp4", true);
    converter.StartConvert(1);
    while (events.ProgressCount == 0)
        std::this_thread::sleep_for(10ms);
    converter.StopConvert();
    ASSERT_TRUE(events.WaitBatchEnd());
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Terminates.size(), 4u);
    // The running task and the two never started end on different threads, in any order;
    // the batch end comes last.
    for (int i = 0; i < 3; ++i) {
        const TerminateRecord& t = events.Terminates[i];
        ASSERT_GE(t.Index, 0);
        EXPECT_FALSE(t.Finished) << t.Index;
        EXPECT_FALSE(t.Exception) << t.Index;
        EXPECT_EQ(t.Message, "") << t.Index;
    }
    EXPECT_EQ(events.Terminates[0].Index + events.Terminates[1].Index + events.Terminates[2].Index,
              3);
    EXPECT_EQ(events.Terminates[3].Index, -1);
    EXPECT_TRUE(ReadMedia(outputs[0]).Opened);
}

TEST_F(ConverterTest, PauseHoldsProgressAndOutputUntilResumed) {
    AddCopyTask("sample.mp4", true);
    converter.SetProgressInterval(100);
    converter.StartConvert(1);
    while (events.ProgressCount < 2)
        std::this_thread::sleep_for(10ms);
    converter.PauseConvert();
    std::this_thread::sleep_for(200ms); // the run reaches its safe point
    int progress = events.ProgressCount;
    auto size = std::filesystem::file_size(outputs[0]);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(events.ProgressCount, progress);
    EXPECT_EQ(std::filesystem::file_size(outputs[0]), size);
    converter.ResumeConvert();
    ASSERT_TRUE(events.WaitBatchEnd());
    EXPECT_TRUE(events.Terminates[0].Finished);
    EXPECT_EQ(ReadFirstStream(outputs[0], AVMEDIA_TYPE_VIDEO).Packets, 75);
}

TEST_F(ConverterTest, StopWhilePausedEndsTheRun) {
    AddCopyTask("sample.mp4", true);
    converter.StartConvert(1);
    while (events.ProgressCount == 0)
        std::this_thread::sleep_for(10ms);
    converter.PauseConvert();
    std::this_thread::sleep_for(100ms);
    converter.StopConvert();
    ASSERT_TRUE(events.WaitBatchEnd(5s));
    EXPECT_FALSE(events.Terminates[0].Finished);
}

TEST_F(ConverterTest, AFailedTaskReportsItsMessageAndTheBatchGoesOn) {
    int failing = converter.AddInputFile(Fixture("h264_aac.mp4"));
    TOutputOptions bad;
    bad.ExtOptions = "vcodec=copy\nacodec=copy\nvol=512";
    ASSERT_TRUE(converter.SetOutputFile(failing, dir.File("bad.mkv"), &bad));
    AddCopyTask("tone.mp3");
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd());
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Terminates.size(), 3u);
    EXPECT_TRUE(events.Terminates[0].Exception);
    EXPECT_EQ(events.Terminates[0].Message,
              "-acodec copy and -vol are incompatible (frames are not decoded)");
    EXPECT_FALSE(events.Terminates[1].Exception);
    EXPECT_TRUE(events.Terminates[1].Finished);
    bool quietLine = false;
    for (auto& log : events.Logs)
        quietLine |=
            log.Level == llQuiet && log.Index == 0 && log.Text == events.Terminates[0].Message;
    EXPECT_TRUE(quietLine);
}

// An encoder that refuses its parameters explains why only in the library's log: the task's end
// message carries that reason, and the log shows the library's line as an error.
TEST_F(ConverterTest, AnEncoderRefusalEndsTheTaskWithTheLibrarysReason) {
    int index = converter.AddInputFile(Fixture("tone.mp3"));
    TOutputOptions wma;
    wma.AudioCodec = "wmav2";
    wma.AudioBitRate = 16000; // the encoder takes 24 kbit/s or more
    ASSERT_TRUE(converter.SetOutputFile(index, dir.File("low.wma"), &wma));
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd());
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Terminates.size(), 2u);
    EXPECT_TRUE(events.Terminates[0].Exception);
    EXPECT_EQ(events.Terminates[0].Message,
              "Error while opening codec for output stream #0.0 - maybe incorrect parameters such "
              "as bit_rate, rate, width or height: bitrate too low: got 16000, need 24000 or "
              "higher");
    bool libraryLine = false;
    for (auto& log : events.Logs)
        libraryLine |= log.Level == llError && log.Index == 0 && log.Text.find("[wmav2 @ ") == 0 &&
                       log.Text.find("bitrate too low") != std::string::npos;
    EXPECT_TRUE(libraryLine);
}

// The report at the end of a run comes after the trailer: a stop that arrives then finds a
// complete output, and the run is reported finished.
TEST_F(ConverterTest, AStopAfterTheLastPacketLeavesTheRunFinished) {
    AddCopyTask("tone.mp3");
    converter.SetProgressInterval(1000000); // no report but the one at the end
    std::atomic<int> reports{0};
    converter.OnProgress = [this, &reports](int, int, int, int, float, float, int64_t, int) {
        ++reports;
        converter.StopConvert();
    };
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd());
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(events.TerminateOrder(), (std::vector<int>{0, -1}));
    EXPECT_TRUE(events.Terminates[0].Finished);
    EXPECT_EQ(ReadFirstStream(outputs[0], AVMEDIA_TYPE_AUDIO).Codec, "mp3");
}

// Stop, pause and resume pressed while events are being raised must neither race nor deadlock.
TEST_F(ConverterTest, ControlsHammeredDuringABatchNeverDeadlock) {
    for (int i = 0; i < 4; ++i)
        AddCopyTask(i % 2 ? "tone.mp3" : "sample.mp4", i % 2 == 0);
    converter.SetProgressInterval(100);
    converter.StartConvert(2);
    for (int i = 0; i < 30 && !events.BatchEnded(); ++i) {
        converter.PauseConvert();
        std::this_thread::sleep_for(5ms);
        converter.ResumeConvert();
        std::this_thread::sleep_for(10ms);
    }
    converter.StopConvert();
    ASSERT_TRUE(events.WaitBatchEnd(10s));
    EXPECT_EQ(events.TerminateOrder().size(), 5u);
}

// A synchronous batch without an owner's event loop runs on the caller's thread while another
// thread keeps writing library lines: neither may wait for the other.
TEST_F(ConverterTest, SynchronousBatchGoesOnWhileAnotherThreadLogs) {
    for (int i = 0; i < 3; ++i)
        AddCopyTask("sample.mp4");
    std::atomic<bool> done{false};
    std::thread logger([&done] {
        while (!done)
            av::av_log(nullptr, AV_LOG_PANIC, "from elsewhere\n");
    });
    auto batch = std::async(std::launch::async, [this] { converter.StartConvert(0); });
    if (batch.wait_for(60s) != std::future_status::ready) {
        std::fprintf(stderr, "the batch and the logging thread wait for each other\n");
        std::_Exit(1); // the blocked threads can be neither joined nor abandoned
    }
    done = true;
    logger.join();
    EXPECT_EQ(events.TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
    std::lock_guard lock(events.Mutex);
    EXPECT_GE(events.Terminates[1].When - events.Terminates[0].When, 100ms);
    // The tasks' own lines reach the owner with their task's index.
    bool ownLine = false;
    for (const LogRecord& line : events.Logs)
        ownLine = ownLine || (line.Index >= 0 && line.Text != "from elsewhere");
    EXPECT_TRUE(ownLine);
}

// A stop pressed just as a task ends on its own must not report that task twice.
TEST_F(ConverterTest, StopRacingATasksOwnEndReportsItOnce) {
    converter.SetLogLevel(llQuiet);
    for (int round = 0; round < 40; ++round) {
        converter.ClearTasks();
        {
            std::lock_guard lock(events.Mutex);
            events.Terminates.clear();
        }
        AddCopyTask("tone.mp3");
        converter.StartConvert(1);
        std::this_thread::sleep_for(std::chrono::microseconds(500 * (round % 20)));
        converter.StopConvert();
        ASSERT_TRUE(events.WaitBatchEnd(10s)) << "round " << round;
        std::this_thread::sleep_for(20ms); // a second report would come from its own thread
        EXPECT_EQ(events.TerminateOrder(), (std::vector<int>{0, -1})) << "round " << round;
    }
}

} // namespace

namespace {

constexpr int STOP_STRESS_ROUNDS = 200;

// Runs the step on another thread; a step that does not return within the limit is a hang,
// and the blocked threads can be neither joined nor abandoned.
void WithinLimit(const char* step, int round, const std::function<void()>& body) {
    auto done = std::async(std::launch::async, body);
    if (done.wait_for(30s) != std::future_status::ready) {
        std::fprintf(stderr, "round %d: %s after a stop never returned\n", round, step);
        std::_Exit(1);
    }
    done.get();
}

} // namespace

// Stop, then at once clear, remove, convert again or drop the component, at every moment of a
// short batch (before a task starts, while it runs, while it writes its trailer, after it
// ended): nothing may wait for a worker that waits for the caller, and a new batch after the
// stopped one reports only its own tasks.
TEST_F(ConverterTest, ActionsRightAfterAStopNeverHang) {
    for (int round = 0; round < STOP_STRESS_ROUNDS; ++round) {
        auto converter = std::make_unique<TAVConverter>();
        ASSERT_TRUE(converter->LoadAVLib("", true));
        converter->SetLogLevel(llQuiet);
        ConverterEvents events;
        events.Attach(*converter);
        auto addTask = [&](int n) {
            int index = converter->AddInputFile(Fixture(n % 2 ? "mono8k.wav" : "tone.mp3"));
            ASSERT_GE(index, 0) << converter->LastError();
            TOutputOptions output;
            output.ExtOptions = "acodec=pcm_s16le";
            std::string name = "r" + std::to_string(round) + "-" + std::to_string(n) + ".wav";
            ASSERT_TRUE(converter->SetOutputFile(index, dir.File(name), &output));
        };
        for (int n = 0; n < 3; ++n)
            addTask(n);
        converter->StartConvert(1 + round % 2);
        std::this_thread::sleep_for(std::chrono::microseconds(250 * (round % 40)));
        converter->StopConvert();

        switch (round % 4) {
        case 0:
            WithinLimit("clear", round, [&] { converter->ClearTasks(); });
            EXPECT_EQ(converter->TaskCount(), 0);
            break;
        case 1:
            WithinLimit("remove", round, [&] {
                converter->RemoveTask(1);
                converter->RemoveTask(0);
            });
            EXPECT_EQ(converter->TaskCount(), 1);
            EXPECT_EQ(converter->Tasks(0)->Index, 0);
            break;
        case 2: {
            WithinLimit("convert", round, [&] {
                converter->ClearTasks();
                std::lock_guard lock(events.Mutex);
                events.Terminates.clear();
            });
            addTask(3);
            converter->StartConvert(1);
            ASSERT_TRUE(events.WaitBatchEnd()) << "round " << round;
            std::lock_guard lock(events.Mutex);
            ASSERT_EQ(events.Terminates.size(), 2u) << "round " << round;
            EXPECT_EQ(events.Terminates[0].Index, 0);
            EXPECT_TRUE(events.Terminates[0].Finished) << events.Terminates[0].Message;
            EXPECT_FALSE(events.Terminates[0].Exception);
            break;
        }
        case 3:
            WithinLimit("close", round, [&] { converter.reset(); });
            break;
        }
        WithinLimit("release", round, [&] { converter.reset(); });
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directories(dir.Path());
    }
}

// ---- Waiting tasks hold nothing; each task opens its files at its turn, in a worker process
// or, for the cases below marked in-process, inside this one.

namespace {

int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Lowers this process's descriptor limit for as long as it lives.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t limit) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

} // namespace

TEST_F(ConverterTest, MoreTasksThanDescriptorsAllConvertAndWaitingTasksHoldNoFile) {
    for (bool inWorkers : {false, true}) {
        SCOPED_TRACE(inWorkers ? "in workers" : "in process");
        StartOver(inWorkers);
        const int tasks = inWorkers ? 40 : 100;
        int before = OpenDescriptors();
        DescriptorLimit limit(before + 24);
        std::vector<std::string> outs;
        for (int i = 0; i < tasks; ++i) {
            int index = converter.AddInputFile(Fixture("mono8k.wav"));
            ASSERT_GE(index, 0) << converter.LastError();
            outs.push_back(dir.File((inWorkers ? "w" : "p") + std::to_string(i) + ".wav"));
            ASSERT_TRUE(converter.SetOutputFile(index, outs.back())) << converter.LastError();
            // The check left no output behind.
            ASSERT_FALSE(std::filesystem::exists(outs.back()));
        }
        EXPECT_LE(OpenDescriptors(), before + 4);
        converter.StartConvert(1);
        ASSERT_TRUE(events.WaitBatchEnd(120s));
        std::lock_guard lock(events.Mutex);
        ASSERT_EQ(events.Terminates.size(), static_cast<size_t>(tasks + 1));
        for (const TerminateRecord& t : events.Terminates)
            EXPECT_TRUE(t.Index < 0 || (t.Finished && !t.Exception)) << t.Index << t.Message;
        for (const std::string& out : outs)
            EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "pcm_s16le") << out;
    }
}

TEST_F(ConverterTest, ASourceDeletedAfterSetUpFailsItsTaskAloneWithTheOpenError) {
    for (bool inWorkers : {false, true}) {
        SCOPED_TRACE(inWorkers ? "in workers" : "in process");
        StartOver(inWorkers);
        std::string doomed = dir.File("doomed.mp3");
        std::filesystem::copy_file(Fixture("tone.mp3"), doomed,
                                   std::filesystem::copy_options::overwrite_existing);
        outputs.clear();
        AddCopyTask("tone.mp3");
        int index = converter.AddInputFile(doomed);
        ASSERT_TRUE(converter.SetOutputFile(index, dir.File("doomed.mkv")));
        AddCopyTask("tone.mp3");
        // Still known to the window through what the check read.
        EXPECT_EQ(converter.Tasks(index)->Probe.AudioInfo().SampleRate, 44100);
        std::filesystem::remove(doomed);

        converter.StartConvert(2);
        ASSERT_TRUE(events.WaitBatchEnd());
        std::lock_guard lock(events.Mutex);
        ASSERT_EQ(events.Terminates.size(), 4u);
        for (const TerminateRecord& t : events.Terminates) {
            if (t.Index == index) {
                EXPECT_TRUE(t.Exception);
                EXPECT_EQ(t.Message, doomed + ": no such file or directory");
            } else if (t.Index >= 0) {
                EXPECT_TRUE(t.Finished && !t.Exception) << t.Message;
            }
        }
        EXPECT_FALSE(std::filesystem::exists(dir.File("doomed.mkv")));
        for (const std::string& out : outputs)
            EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "mp3");
    }
}

// A task handed over already checked (as a worker gets its task) opens nothing until its run,
// which applies both records; one whose source has gone since fails at its run, alone, with
// the opener's message.
TEST_F(ConverterTest, ACheckedTaskOpensItsFilesOnlyWhenItRuns) {
    StartOver(false);
    const std::string doomed = dir.File("gone.mp3");
    std::filesystem::copy_file(Fixture("tone.mp3"), doomed);
    TOutputOptions output;
    output.ExtOptions = "acodec=flac";
    const int good =
        converter.AddCheckedTask(Fixture("tone.mp3"), nullptr, dir.File("checked.mkv"), &output);
    const int gone = converter.AddCheckedTask(doomed, nullptr, dir.File("gone.mkv"), &output);
    ASSERT_GE(good, 0);
    ASSERT_GE(gone, 0);
    for (int index : {good, gone}) {
        EXPECT_FALSE(converter.Tasks(index)->Resident());
        EXPECT_EQ(converter.Tasks(index)->InputFileCount, 0);
    }
    std::filesystem::remove(doomed);
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd());
    std::lock_guard lock(events.Mutex);
    ASSERT_EQ(events.Terminates.size(), 3u);
    EXPECT_TRUE(events.Terminates[0].Finished && !events.Terminates[0].Exception)
        << events.Terminates[0].Message;
    EXPECT_TRUE(events.Terminates[1].Exception);
    EXPECT_EQ(events.Terminates[1].Message, doomed + ": no such file or directory");
    EXPECT_EQ(ReadFirstStream(dir.File("checked.mkv"), AVMEDIA_TYPE_AUDIO).Codec, "flac");
    EXPECT_FALSE(std::filesystem::exists(dir.File("gone.mkv")));
}

// The processes whose parent is this one, with their arguments joined by blanks.
std::vector<std::pair<pid_t, std::string>> ChildProcesses() {
    std::vector<std::pair<pid_t, std::string>> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // The parent's pid is the second field after the command name in parentheses.
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t parent = -1;
        fields >> state >> parent;
        if (parent != getpid())
            continue;
        std::ifstream cmdline(entry.path() / "cmdline");
        std::string arguments((std::istreambuf_iterator<char>(cmdline)), {});
        std::replace(arguments.begin(), arguments.end(), '\0', ' ');
        while (!arguments.empty() && arguments.back() == ' ')
            arguments.pop_back();
        children.emplace_back(std::stoi(name), arguments);
    }
    return children;
}

// Once a batch has ended, the only processes left that this one has to wait for are the batch's
// pre-loaded workers: no process of a replaced worker stays behind.
void ExpectOnlyChildren(const std::vector<pid_t>& workers) {
    std::vector<pid_t> others;
    for (const auto& [pid, arguments] : ChildProcesses())
        if (std::find(workers.begin(), workers.end(), pid) == workers.end())
            others.push_back(pid);
    EXPECT_THAT(others, ::testing::IsEmpty());
}

// The tasks' ends as the converter raised them: true for each that converted.
std::vector<bool> Converted(ConverterEvents& events) {
    std::vector<bool> converted;
    for (const TerminateRecord& t : events.TaskEnds())
        converted.push_back(t.Finished && !t.Exception);
    return converted;
}

// One pre-loaded worker, other than the first, serves the rest of the batch, and no process of
// a replaced one is left.
void ExpectServedByAReplacement(TAVConverter& converter, pid_t first) {
    const std::vector<pid_t> workers = converter.WorkerPids();
    ASSERT_EQ(workers.size(), 1u);
    EXPECT_NE(workers[0], first);
    ExpectOnlyChildren(workers);
}

TEST_F(ConverterTest, TasksRunOneAfterAnotherInOnePreloadedWorkerOfItsOwnGroup) {
    const pid_t worker = StartThreeBehindAPreloadedWorker();
    ASSERT_GT(worker, 0);
    // Out of this process's group, which a terminal's Ctrl+C reaches.
    EXPECT_EQ(getpgid(worker), worker);
    ASSERT_TRUE(events.WaitBatchEnd());
    EXPECT_EQ(Converted(events), (std::vector<bool>{true, true, true}));
    for (const std::string& out : outputs)
        EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "mp3");
    // No process was started for a task: the one worker served them all and waits for more.
    EXPECT_EQ(converter.WorkerPids(), std::vector<pid_t>{worker});
    ExpectOnlyChildren({worker});
}

TEST_F(ConverterTest, AWorkerKilledInItsTaskFailsThatTaskAloneAndANewOneServesTheRest) {
    const pid_t first = StartThreeBehindAPreloadedWorker();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(events.WaitProgressOrEnd(0, 10s));
    kill(first, SIGKILL);
    ASSERT_TRUE(events.WaitBatchEnd());
    EXPECT_EQ(Converted(events), (std::vector<bool>{false, true, true}));
    EXPECT_THAT(events.EndOf(0).Message,
                testing::StartsWith("the conversion stopped unexpectedly: SIGKILL"));
    EXPECT_FALSE(std::filesystem::exists(outputs[0]));
    ExpectServedByAReplacement(converter, first);
}

TEST_F(ConverterTest, AWorkerThatMisbehavesIsReplacedAndEveryTaskConverts) {
    struct Case {
        const char* What;
        int Signal;        // sent to the first worker as the batch starts
        const char* Fault; // the worker's injected misbehaviour
    };
    // Stopped, it never answers the first task's request; lingering, it finds itself unfit
    // after the first task (a thread outlived it) and ends instead of taking the second.
    for (const Case& c : {Case{"stops answering", SIGSTOP, ""},
                          Case{"leaves a thread behind", 0, "linger:tone.mp3"}}) {
        SCOPED_TRACE(c.What);
        StartOver(true);
        outputs.clear();
        pid_t first = -1;
        bool ended = false;
        {
            ScopedVariable fault("MOBIVERT_WORKER_FAULT", c.Fault);
            first = StartThreeBehindAPreloadedWorker();
            ASSERT_GT(first, 0);
            if (c.Signal)
                kill(first, c.Signal);
            ended = events.WaitBatchEnd(60s);
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(Converted(events), (std::vector<bool>{true, true, true}));
        for (const std::string& out : outputs)
            EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "mp3");
        // A lingering worker retires after each task it served.
        if (!*c.Fault)
            ExpectServedByAReplacement(converter, first);
        else
            EXPECT_THAT(converter.WorkerPids(), testing::Not(testing::Contains(first)));
        ExpectOnlyChildren(converter.WorkerPids());
    }
}

TEST_F(ConverterTest, SideBySideTasksEachHaveAWorkerAndTheTwoServeTheWholeBatch) {
    converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
    // Each read at its own pace (a second), so that two always run at once.
    for (int k = 0; k < 4; ++k)
        AddCopyTask("tone.mp3", true);
    converter.StartConvert(2);
    std::vector<pid_t> ahead = converter.WorkerPids();
    ASSERT_EQ(ahead.size(), 2u);
    EXPECT_NE(ahead[0], ahead[1]);
    ASSERT_TRUE(events.WaitBatchEnd());
    EXPECT_EQ(Converted(events), (std::vector<bool>{true, true, true, true}));
    for (const std::string& out : outputs)
        EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "mp3");
    std::vector<pid_t> after = converter.WorkerPids();
    std::sort(ahead.begin(), ahead.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, ahead);
    ExpectOnlyChildren(after);
}

// A task that fails in the worker's set-up (its source went after the converter's check) and
// one stopped in its run leave the worker fit: the same one converts the next task.
TEST_F(ConverterTest, AWorkerServesTheNextTaskAfterOneThatFailedOrWasStopped) {
    for (bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "failed");
        StartOver(true);
        outputs.clear();
        const std::string doomed = dir.File("doomed.mp3");
        int first = -1;
        if (stopped) {
            first = AddCopyTask("sample.mp4", true); // three seconds at its own pace
        } else {
            std::filesystem::copy_file(Fixture("tone.mp3"), doomed,
                                       std::filesystem::copy_options::overwrite_existing);
            first = converter.AddInputFile(doomed);
            ASSERT_TRUE(converter.SetOutputFile(first, dir.File("doomed.mkv")));
            std::filesystem::remove(doomed);
        }
        AddCopyTask("tone.mp3");
        converter.StartConvert(1);
        const std::vector<pid_t> workers = converter.WorkerPids();
        ASSERT_EQ(workers.size(), 1u);
        if (stopped) {
            ASSERT_TRUE(events.WaitProgressOrEnd(first, 10s));
            converter.Tasks(first)->StopConvert();
        }
        ASSERT_TRUE(events.WaitBatchEnd());
        const TerminateRecord end = events.EndOf(first);
        EXPECT_FALSE(end.Finished);
        EXPECT_EQ(end.Exception, !stopped) << end.Message;
        if (!stopped) {
            EXPECT_EQ(end.Message, doomed + ": no such file or directory");
        }
        EXPECT_TRUE(events.EndOf(first + 1).Finished && !events.EndOf(first + 1).Exception)
            << events.EndOf(first + 1).Message;
        EXPECT_EQ(ReadFirstStream(outputs.back(), AVMEDIA_TYPE_AUDIO).Codec, "mp3");
        EXPECT_EQ(converter.WorkerPids(), workers);
        ExpectOnlyChildren(workers);
    }
}

TEST_F(ConverterTest, AStopThatAHungWorkerIgnoresEndsTheWorkerAndTheTaskAsStopped) {
    converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
    AddCopyTask("sample.mp4", true); // three seconds at its own pace
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitProgressOrEnd(0, 10s));
    const std::vector<pid_t> workers = converter.WorkerPids();
    ASSERT_EQ(workers.size(), 1u);
    kill(workers[0], SIGSTOP);
    converter.StopConvert();
    ASSERT_TRUE(events.WaitBatchEnd(20s));
    const TerminateRecord end = events.EndOf(0);
    EXPECT_FALSE(end.Finished);
    EXPECT_FALSE(end.Exception) << end.Message;
    bool said = false;
    for (const LogRecord& log : events.LogLines())
        said |= log.Index == 0 && log.Text == "The worker did not stop when asked and was ended";
    EXPECT_TRUE(said);
    EXPECT_FALSE(std::filesystem::exists(outputs[0]));
    // The hung worker was killed and waited for.
    EXPECT_THAT(converter.WorkerPids(), testing::IsEmpty());
    ExpectOnlyChildren({});
}

TEST_F(ConverterTest, APreloadedWorkerThatDiesBeforeAnsweringLeavesNoProcessBehind) {
    // Each pre-loaded worker ends on the task's request before it answers: the task runs in the
    // worker program started for it, and every worker that went is waited for.
    converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
    AddCopyTask("tone.mp3");
    AddCopyTask("tone.mp3");
    bool ended = false;
    {
        ScopedVariable fault("MOBIVERT_WORKER_FAULT", "unanswered");
        converter.StartConvert(1);
        ended = events.WaitBatchEnd();
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(Converted(events), (std::vector<bool>{true, true}));
    for (const std::string& out : outputs)
        EXPECT_EQ(ReadFirstStream(out, AVMEDIA_TYPE_AUDIO).Codec, "mp3");
    ExpectOnlyChildren(converter.WorkerPids());
}

// The order in which the tasks' first log lines arrived: the order they started in.
std::vector<int> FirstLogOrder(ConverterEvents& events) {
    std::lock_guard lock(events.Mutex);
    std::vector<int> order;
    for (const LogRecord& log : events.Logs)
        if (log.Index >= 0 && std::find(order.begin(), order.end(), log.Index) == order.end())
            order.push_back(log.Index);
    return order;
}

TEST_F(ConverterTest, SeveralAtOnceStartTheLongestFirstOneAtATimeKeepsTheListsOrder) {
    for (int threads : {2, 1}) {
        SCOPED_TRACE(threads);
        StartOver(true);
        // A task's first line tells its start only while no task started after it can speak
        // first: copies of the long ones end within milliseconds, before the other long one has
        // said anything, so side by side they are read at their own pace and run for seconds.
        const bool sideBySide = threads > 1;
        AddCopyTask("fifth_second.mp4");       // 0.2 s
        AddCopyTask("mono8k.wav", sideBySide); // 2 s
        AddCopyTask("sample.mp4", sideBySide); // 3 s
        AddCopyTask("fifth_second.mp4");       // 0.2 s
        {
            // Only the lines of the runs: setting the tasks up may log too.
            std::lock_guard lock(events.Mutex);
            events.Logs.clear();
        }
        converter.StartConvert(threads);
        ASSERT_TRUE(events.WaitBatchEnd());
        const std::vector<int> order = FirstLogOrder(events);
        ASSERT_EQ(order.size(), 4u);
        if (threads == 1) {
            EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
        } else {
            // The two longest start together; the short ones only after one of them ended
            // (they may then run side by side, so which of them logs first is open).
            EXPECT_EQ(std::set<int>(order.begin(), order.begin() + 2), (std::set<int>{1, 2}));
            EXPECT_EQ(std::set<int>(order.begin() + 2, order.end()), (std::set<int>{0, 3}));
        }
    }
}

TEST_F(ConverterTest, AWorkerThatDiesFailsItsTaskAloneAndItsOutputIsRemoved) {
    converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
    struct Case {
        const char* Fault;
        std::string Message;
    };
    for (const Case& c : {Case{"progress:crash", "the conversion stopped unexpectedly: SIGABRT"},
                          Case{"no-report:crash", "the conversion stopped unexpectedly: exit "
                                                  "status 0"}}) {
        SCOPED_TRACE(c.Fault);
        converter.ClearTasks();
        {
            std::lock_guard lock(events.Mutex);
            events.Terminates.clear();
            events.Logs.clear();
        }
        std::string crash = dir.File("crash.mp4");
        std::filesystem::copy_file(Fixture("sample.mp4"), crash,
                                   std::filesystem::copy_options::overwrite_existing);
        outputs.clear();
        AddCopyTask("tone.mp3");
        int index = converter.AddInputFile(crash);
        TOutputOptions copy;
        copy.ExtOptions = "vcodec=copy\nacodec=copy";
        ASSERT_TRUE(converter.SetOutputFile(index, dir.File("crash.mkv"), &copy));
        AddCopyTask("tone.mp3");
        bool ended = false;
        {
            ScopedVariable fault("MOBIVERT_WORKER_FAULT", c.Fault);
            converter.StartConvert(1);
            ended = events.WaitBatchEnd();
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(events.TerminateOrder(), (std::vector<int>{0, 1, 2, -1}));
        std::lock_guard lock(events.Mutex);
        EXPECT_TRUE(events.Terminates[1].Exception);
        EXPECT_THAT(events.Terminates[1].Message, testing::StartsWith(c.Message));
        EXPECT_TRUE(events.Terminates[0].Finished && events.Terminates[2].Finished);
        EXPECT_FALSE(std::filesystem::exists(dir.File("crash.mkv")));
        bool quietLine = false;
        for (const LogRecord& log : events.Logs)
            quietLine |=
                log.Level == llQuiet && log.Index == 1 && log.Text == events.Terminates[1].Message;
        EXPECT_TRUE(quietLine);
    }
}

TEST_F(ConverterTest, AMissingWorkerProgramRunsTasksHereAndSaysSoOnce) {
    converter.WorkerProgram = dir.File("no-such-worker");
    AddCopyTask("tone.mp3");
    AddCopyTask("tone.mp3");
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd());
    std::lock_guard lock(events.Mutex);
    EXPECT_TRUE(events.Terminates[0].Finished && events.Terminates[1].Finished);
    int said = 0;
    for (const LogRecord& log : events.Logs)
        said += log.Text.find("no-such-worker is missing") != std::string::npos;
    EXPECT_EQ(said, 1);
}

TEST(RecordTextTest, EveryKindOfValueComesBackExactly) {
    TOutputOptions out;
    out.FileName = "dir\\with\nline\rbreaks.mkv";
    out.MuxDelay = 0.1f;
    out.Timestamp = 45000.123456789;
    out.PadColor = 0xFF8000;
    out.DisableVideo = true;
    out.AudioVolume = -7;
    out.ExtOptions = "b=200k\r\nab=64k";
    TOutputOptions back;
    std::string text = RecordText(out, "");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        ASSERT_TRUE(ReadRecordLine(back, text.substr(start, end - start)));
    EXPECT_EQ(RecordText(back, ""), text);
    EXPECT_EQ(back.FileName, out.FileName);
    EXPECT_EQ(back.MuxDelay, out.MuxDelay);
    EXPECT_EQ(back.Timestamp, out.Timestamp);
    EXPECT_EQ(back.ExtOptions, out.ExtOptions);
    EXPECT_FALSE(ReadRecordLine(back, "NoSuchField=1"));
    EXPECT_FALSE(ReadRecordLine(back, "AudioVolume=12x"));
    EXPECT_FALSE(ReadRecordLine(back, "DisableAudio=yes"));
}

TEST(WorkerProtocolTest, JobsAndReportsComeBackExactlyWhateverTheirText) {
    TWorkerJob job;
    job.LibraryDirectory = "/opt/lib dir";
    job.LogLevel = 4;
    job.ProgressIntervalMs = 250;
    job.InputFileName = "in\nput.mp4";
    job.HasInputRecord = true;
    job.Input.StartTime = 1500;
    job.OutputFileName = "/out/.clip (AVI Video).avi.part";
    job.OutputFormat = "avi";
    TWorkerJob back;
    bool done = false;
    TLineReader reader;
    std::string text = JobText(job), line;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fds[1]);
    while (!done && (reader.Next(line) || (reader.Fill(fds[0]) && reader.Next(line))))
        ASSERT_TRUE(ReadJobLine(back, line, done)) << line;
    close(fds[0]);
    EXPECT_TRUE(done);
    EXPECT_EQ(JobText(back), text);
    EXPECT_FALSE(back.HasOutputRecord);
    EXPECT_EQ(back.InputFileName, job.InputFileName);

    TWorkerReport report;
    std::string progress = ProgressReportText(12, 25, 480, 3.1f, 1234.567f, 98765, -1);
    ASSERT_TRUE(ReadReport(progress.substr(0, progress.size() - 1), report));
    EXPECT_EQ(report.Kind, TWorkerReport::Progress);
    EXPECT_EQ(report.Quality, 3.1f);
    EXPECT_EQ(report.BitRate, 1234.567f);
    EXPECT_EQ(report.CurrentSize, 98765);
    EXPECT_EQ(report.TotalDurationMs, -1);
    std::string end = EndReportText(false, true, "two\nlines \\ here");
    ASSERT_TRUE(ReadReport(end.substr(0, end.size() - 1), report));
    EXPECT_EQ(report.Kind, TWorkerReport::End);
    EXPECT_TRUE(report.Failed && !report.Finished);
    EXPECT_EQ(report.Text, "two\nlines \\ here");
    std::string log = LogReportText(-1, "failure");
    ASSERT_TRUE(ReadReport(log.substr(0, log.size() - 1), report));
    EXPECT_EQ(report.Level, -1);
    EXPECT_FALSE(ReadReport("X 1", report));
    EXPECT_FALSE(ReadReport("P 1 2", report));
}
