// A batch spread over machines with GNU parallel (scripts/spread-batch.sh), tried with this
// machine as the only host (the login ":") and two job slots: every file gets its own
// mobivert-cli run, the runs overlap, and every run's exit status comes back.

#include "support/CliPipe.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace mobivert::test;
namespace fs = std::filesystem;

namespace {

struct JobLine {
    std::string Host;
    double Start = 0;
    double Runtime = 0;
    int Exit = -1;
    std::string Command;
};

// parallel's job log: a heading, then Seq Host Starttime JobRuntime Send Receive Exitval
// Signal Command, separated by tabs.
std::vector<JobLine> ReadJobLog(const std::string& path) {
    std::vector<JobLine> jobs;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 9)
            continue;
        jobs.push_back({fields[1], std::stod(fields[2]), std::stod(fields[3]), std::stoi(fields[6]),
                        fields[8]});
    }
    return jobs;
}

// Runs the script in the folder; its exit status.
int Spread(const TempDir& dir, const std::string& options, const std::string& cliOptions,
           const std::string& files) {
    const std::string base = dir.Path().string();
    return std::atoi(RunCommand("cd " + ShellQuoted(base) +
                                " && XDG_CONFIG_HOME=cfg XDG_STATE_HOME=state " + "bash " +
                                ShellQuoted(std::string(MOBIVERT_SCRIPT_DIR) + "/spread-batch.sh") +
                                " -S hosts -l job.log -c " + ShellQuoted(MOBIVERT_CLI_PROGRAM) +
                                " " + options + " -- -q -p 'Wave Audio (*.wav)' -o out " +
                                cliOptions + " -- " + files + " >spread.out 2>&1; echo $?")
                         .c_str());
}

} // namespace

TEST(SpreadBatchTest, FilesAreSpreadOverJobSlotsAndEveryExitStatusIsCollected) {
    TempDir dir;
    std::ofstream(dir.File("hosts")) << ":\n";
    fs::copy_file(Fixture("tone.mp3"), dir.File("one tone.mp3"));
    fs::copy_file(Fixture("tone.mp3"), dir.File("two.mp3"));
    std::ofstream(dir.File("broken.mp3")) << "not media";
    // Read at their own pace, so that the two slots' runs are seen side by side.
    ASSERT_EQ(Spread(dir, "-j 2", "-i re=1", "'one tone.mp3' two.mp3 broken.mp3"), 1);
    std::vector<JobLine> jobs = ReadJobLog(dir.File("job.log"));
    ASSERT_EQ(jobs.size(), 3u);
    int failed = 0;
    for (const JobLine& job : jobs) {
        EXPECT_EQ(job.Host, ":");
        const bool broken = job.Command.find("broken.mp3") != std::string::npos;
        EXPECT_EQ(job.Exit, broken ? 1 : 0) << job.Command;
        failed += job.Exit != 0;
    }
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(fs::exists(dir.File("out/one tone (Wave Audio).wav")));
    EXPECT_TRUE(fs::exists(dir.File("out/two (Wave Audio).wav")));
    // The two runs of the sounds, which took the two slots first, overlapped: the second
    // started before the first ended. (The log lists runs as they end, so the quick failure of
    // the third may come between them.)
    std::vector<JobLine> sounds;
    for (const JobLine& job : jobs)
        if (job.Command.find("broken.mp3") == std::string::npos)
            sounds.push_back(job);
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_LT(std::max(sounds[0].Start, sounds[1].Start),
              std::min(sounds[0].Start + sounds[0].Runtime, sounds[1].Start + sounds[1].Runtime));

    // Chunks of two files a run: one run, its warnings-free success is the batch's.
    TempDir chunked;
    std::ofstream(chunked.File("hosts")) << ":\n";
    fs::copy_file(Fixture("tone.mp3"), chunked.File("a.mp3"));
    fs::copy_file(Fixture("mono8k.wav"), chunked.File("b.wav"));
    ASSERT_EQ(Spread(chunked, "-n 2", "", "a.mp3 b.wav"), 0);
    jobs = ReadJobLog(chunked.File("job.log"));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].Command.find("a.mp3 b.wav"), std::string::npos) << jobs[0].Command;
    EXPECT_TRUE(fs::exists(chunked.File("out/b (Wave Audio).wav")));
}
