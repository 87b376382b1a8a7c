// Hostile output folders: work files exist only while their task runs, links planted or swapped
// into the folder during a batch never lead a write outside it, a dead run's work files are
// cleaned up without touching a running program's; and conversions keep the caller's priority.

#include "converter/WorkFile.h"
#include "binding/AVLibs.h"
#include "converter/AVConverter.h"
#include "converter/FFmpegTask.h"
#include "converter/OutputPublishing.h"
#include "engine/session/ThreadPriority.h"
#include "support/ConverterEvents.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mobivert::converter;
using namespace mobivert::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> HiddenNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.')
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class WorkFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastError();
        converter.SetLogLevel(llQuiet);
        converter.SetProgressInterval(50);
        converter.PublishOutputs = true;
        converter.WorkerProgram = MOBIVERT_WORKER_PROGRAM;
        events.Attach(converter, {.Logs = false, .PublishedNames = true});
    }
    void TearDown() override { converter.ClearTasks(); }

    // A stream copy of the fixture into out/<name>.mkv; realTime reads it at its own pace.
    void AddTask(const std::string& fixture, const std::string& name, bool realTime = false) {
        TInputOptions input;
        input.ExtOptions = realTime ? "re" : "";
        int index = converter.AddInputFile(Fixture(fixture), &input);
        ASSERT_GE(index, 0) << converter.LastError();
        TOutputOptions output;
        output.ExtOptions = "vcodec=copy\nacodec=copy";
        ASSERT_TRUE(converter.SetOutputFile(index, out.File(name + ".mkv"), &output))
            << converter.LastError();
    }

    TempDir out, outside;
    TAVConverter converter;
    ConverterEvents events;
};

} // namespace

TEST_F(WorkFileTest, LinksPlantedOrSwappedInDuringABatchNeverLeadAWriteOutsideTheFolder) {
    for (bool inWorkers : {false, true}) {
        SCOPED_TRACE(inWorkers ? "in workers" : "in process");
        converter.ClearTasks();
        converter.RunInWorkers = inWorkers;
        events.Clear();
        for (const auto& entry : fs::directory_iterator(out.Path()))
            fs::remove(entry.path());
        const std::string target = outside.File("precious");
        std::ofstream(target) << "precious";

        AddTask("sample.mp4", "first", true);
        AddTask("tone.mp3", "second");
        AddTask("tone.mp3", "third");
        // Waiting tasks hold no file: the set-up checks left nothing in the folder.
        EXPECT_TRUE(fs::is_empty(out.Path()));

        // Links where the second task's work file and the third task's output will go.
        fs::create_symlink(target, out.File(".second.mkv.part"));
        fs::create_symlink(target, out.File("third.mkv"));
        converter.StartConvert(1);
        ASSERT_TRUE(events.WaitProgressOrEnd(0, 60s));
        // Only the running task has a work file; the first one's is swapped for a link.
        EXPECT_EQ(HiddenNames(out.Path()),
                  (std::vector<std::string>{".first.mkv.part", ".second.mkv.part"}));
        fs::rename(out.File(".first.mkv.part"), outside.File("moved away"));
        fs::create_symlink(target, out.File(".first.mkv.part"));
        ASSERT_TRUE(events.WaitBatchEnd(120s));

        EXPECT_EQ(ReadText(target), "precious");
        // The swapped task fails with a plain reason and publishes nothing.
        EXPECT_TRUE(events.EndOf(0).Exception);
        EXPECT_THAT(events.EndOf(0).Message, testing::HasSubstr("was replaced by another file"));
        EXPECT_EQ(events.EndOf(0).Published, "");
        EXPECT_FALSE(fs::exists(fs::symlink_status(out.File("first.mkv"))));
        // The others write under names of their own and say so.
        EXPECT_FALSE(events.EndOf(1).Exception) << events.EndOf(1).Message;
        EXPECT_EQ(events.EndOf(1).Published, out.File("second.mkv"));
        EXPECT_FALSE(events.EndOf(2).Exception) << events.EndOf(2).Message;
        EXPECT_EQ(events.EndOf(2).Published, out.File("third [1].mkv"));
        for (const char* name : {"second.mkv", "third [1].mkv"}) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out.File(name)))) << name;
            EXPECT_EQ(ReadFirstStream(out.File(name), AVMEDIA_TYPE_AUDIO).Codec, "mp3") << name;
        }
        // No work file of ours is left; the planted links are where they were put.
        EXPECT_EQ(HiddenNames(out.Path()),
                  (std::vector<std::string>{".first.mkv.part", ".second.mkv.part"}));
        EXPECT_TRUE(fs::is_symlink(out.File(".first.mkv.part")));
        EXPECT_TRUE(fs::is_symlink(out.File(".second.mkv.part")));
        EXPECT_TRUE(fs::is_symlink(out.File("third.mkv")));
        fs::remove(outside.File("moved away"));
    }
}

TEST_F(WorkFileTest, AFolderThatVanishesBeforeATasksTurnFailsThatTaskAloneWithItsReason) {
    const fs::path gone = out.Path() / "gone";
    fs::create_directory(gone);
    AddTask("tone.mp3", "kept");
    AddTask("tone.mp3", "gone/lost");
    fs::remove(gone);
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd(60s));
    EXPECT_FALSE(events.EndOf(0).Exception) << events.EndOf(0).Message;
    EXPECT_TRUE(events.EndOf(1).Exception);
    EXPECT_EQ(events.EndOf(1).Message,
              "Could not open '" + (gone / "lost.mkv").string() + "': No such file or directory");
    EXPECT_FALSE(fs::exists(gone));
}

TEST_F(WorkFileTest, AFolderRemovedWhileItsTaskConvertsStopsThatTaskAtOnce) {
    const fs::path gone = out.Path() / "gone";
    fs::create_directory(gone);
    AddTask("sample.mp4", "gone/lost", true);
    AddTask("tone.mp3", "kept");
    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitProgressOrEnd(0, 60s));
    fs::remove_all(gone);
    ASSERT_TRUE(events.WaitBatchEnd(60s));
    EXPECT_TRUE(events.EndOf(0).Exception);
    EXPECT_THAT(events.EndOf(0).Message, testing::HasSubstr("the output file is gone"));
    EXPECT_THAT(events.EndOf(0).Message, testing::HasSubstr((gone / "lost.mkv").string()));
    EXPECT_THAT(events.EndOf(0).Message, testing::Not(testing::HasSubstr(".part")));
    // Read at its own pace, the 3 s source was not converted to its end.
    EXPECT_LT(events.LastPositionOf(0), 2500);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_FALSE(events.EndOf(1).Exception) << events.EndOf(1).Message;
    EXPECT_EQ(events.EndOf(1).Published, out.File("kept.mkv"));
}

TEST(WorkFiles, TheCleanUpAfterADeadRunTakesOnlyItsAbandonedPlainFiles) {
    TempDir dir, elsewhere;
    std::string error;
    // Left by a dead run: plain work files of any number. Not ours to take: a link, another
    // output's work file, and the work file of a run still going (it holds its lock).
    std::ofstream(elsewhere.File("target")) << "kept";
    for (const char* name : {".b.mp4.part", ".b.mp4.7.part", ".other.mp4.part", ".b.mp4.x.part"})
        std::ofstream(dir.File(name)) << "left";
    fs::create_symlink(elsewhere.File("target"), dir.File(".c.mp4.part"));
    TWorkFile running;
    ASSERT_TRUE(running.Create(dir.File("d.mp4"), error)) << error;
    RemoveAbandonedWorkFiles({dir.File("b.mp4"), dir.File("c.mp4"), dir.File("d.mp4")});
    EXPECT_EQ(HiddenNames(dir.Path()),
              (std::vector<std::string>{".b.mp4.x.part", ".c.mp4.part", ".d.mp4.part",
                                        ".other.mp4.part"}));
    EXPECT_EQ(ReadText(elsewhere.File("target")), "kept");
    // A program that quits at once takes its own running work files with it.
    RemoveLiveWorkFiles();
    EXPECT_FALSE(fs::exists(dir.File(".d.mp4.part")));
}

// ---- The caller's priority

namespace {

int NiceOf(pid_t thread) {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    return errno == 0 ? nice : -100;
}

// The fields of a /proc stat file's text from field 3 (state) on: field N is at N - 3.
std::vector<std::string> StatFields(const std::string& text) {
    size_t close = text.rfind(')');
    std::vector<std::string> rest;
    if (close == std::string::npos)
        return rest;
    std::istringstream fields(text.substr(close + 2));
    for (std::string field; fields >> field;)
        rest.push_back(field);
    return rest;
}

// This process's worker children: their nice values (field 19 of /proc/PID/stat), and how many
// of their threads run as batch work (field 41, the policy, of /proc/PID/task/TID/stat).
struct WorkerScheduling {
    std::vector<int> Nice;
    int BatchThreads = 0;
};

WorkerScheduling WorkersScheduling() {
    WorkerScheduling found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = ReadText((entry.path() / "stat").string());
        std::vector<std::string> rest = StatFields(stat);
        if (stat.find("(mobivert-worker)") == std::string::npos || rest.size() <= 16 ||
            std::stoi(rest[1]) != getpid())
            continue;
        found.Nice.push_back(std::stoi(rest[16]));
        std::error_code error;
        for (const auto& task : fs::directory_iterator(entry.path() / "task", error)) {
            std::vector<std::string> fields = StatFields(ReadText((task.path() / "stat").string()));
            found.BatchThreads += fields.size() > 38 && std::stoi(fields[38]) == SCHED_BATCH;
        }
    }
    return found;
}

} // namespace

TEST_F(WorkFileTest, ConversionsKeepTheCallersNiceValueAsBatchWorkInThisProcessAndInWorkers) {
    if (!std::getenv("MOBIVERT_NICE_CHILD")) {
        // This test again, started the way a user starts a program with a lower priority.
        // Everything is made before the fork: between fork and exec only system calls are safe.
        std::string self = fs::read_symlink("/proc/self/exe").string();
        std::string filter = "--gtest_filter=WorkFileTest.ConversionsKeepTheCallersNiceValue*";
        std::vector<std::string> texts{"nice", "-n", "5", self, filter};
        std::vector<char*> argv;
        for (std::string& text : texts)
            argv.push_back(text.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment{"MOBIVERT_NICE_CHILD=1"};
        for (char** entry = environ; *entry; ++entry)
            environment.push_back(*entry);
        std::vector<char*> envp;
        for (std::string& text : environment)
            envp.push_back(text.data());
        envp.push_back(nullptr);
        pid_t child = fork();
        if (child == 0) {
            execvpe("nice", argv.data(), envp.data());
            _exit(127);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the test under nice -n 5 failed";
        return;
    }
    const int own = mobivert::engine::ProcessNiceValue();
    ASSERT_GE(own, 5);
    ASSERT_EQ(NiceOf(0), own);
    struct Case {
        TConvertPriority Priority;
        int Expected;
    };
    for (bool inWorkers : {false, true}) {
        for (Case c :
             {Case{tpNormal, own}, Case{tpLowest, std::min(19, own + 10)}, Case{tpIdle, 19}}) {
            SCOPED_TRACE((inWorkers ? "in workers, priority " : "in process, priority ") +
                         std::to_string(c.Priority));
            converter.ClearTasks();
            converter.RunInWorkers = inWorkers;
            converter.ThreadPriority = c.Priority;
            events.Clear();
            std::atomic<int> threadNice{-100};
            std::atomic<int> threadPolicy{-1};
            WorkerScheduling workers;
            events.BeforeProgress = [&](int) {
                threadNice = NiceOf(gettid());
                threadPolicy = sched_getscheduler(0);
                // The batch's pre-loaded worker runs the task at the task's value.
                if (inWorkers && workers.Nice.empty())
                    workers = WorkersScheduling();
            };
            AddTask("sample.mp4", "nice" + std::to_string(inWorkers) + std::to_string(c.Priority),
                    true);
            converter.StartConvert(1);
            ASSERT_TRUE(events.WaitBatchEnd(60s));
            events.BeforeProgress = nullptr;
            // Never above the caller's: the same for normal, lower for the others.
            EXPECT_EQ(threadNice, c.Expected);
            if (inWorkers) {
                EXPECT_EQ(workers.Nice, std::vector<int>{c.Expected});
                // The conversion's thread (and the codec threads it started).
                EXPECT_GE(workers.BatchThreads, 1);
            } else {
                EXPECT_EQ(threadPolicy, SCHED_BATCH);
            }
            EXPECT_FALSE(events.EndOf(0).Exception) << events.EndOf(0).Message;
        }
    }
    EXPECT_EQ(NiceOf(0), own);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
}
