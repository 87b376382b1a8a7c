// The mobivert-cli program, run as a separate process: its messages and exit statuses, the
// output folder it picks, bad input files, never overwriting or changing a file, extra engine
// options, several conversions at once, and a graceful stop on SIGINT.

#include "app/cli/ProgressDisplay.h"
#include "app/cli/StopSignals.h"
#include "app/cli/TerminalText.h"
#include "app/shared/Presets.h"
#include "support/MediaInfo.h"
#include "support/TempDir.h"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <grp.h>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <poll.h>
#include <regex>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mobivert::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct CliResult {
    int Status = -1; // exit status, or 128 + signal
    std::string Out;
    std::string Err;
};

struct CliRun {
    std::vector<std::string> Args;
    std::vector<std::pair<std::string, std::string>> Env;
    std::string Cwd;
    // Sent, one right after the other, once stderr holds this text (empty: never).
    std::string SignalWhen;
    std::vector<int> Signals{SIGINT};
    bool AsNobody = false;
    // The child's descriptor limit (0: inherited).
    rlim_t FileLimit = 0;
};

CliResult RunCli(const CliRun& run) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    // Everything the child needs is made before the fork: between fork and exec only system
    // calls are safe.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : run.Env)
            replaced |= text.rfind(name + "=", 0) == 0;
        if (!replaced)
            environment.push_back(text);
    }
    for (const auto& [name, value] : run.Env)
        environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : environment)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{MOBIVERT_CLI_PROGRAM};
    args.insert(args.end(), run.Args.begin(), run.Args.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (!run.Cwd.empty() && chdir(run.Cwd.c_str()) != 0)
            _exit(126);
        rlimit files{run.FileLimit, run.FileLimit};
        if (run.FileLimit && setrlimit(RLIMIT_NOFILE, &files) != 0)
            _exit(126);
        if (run.AsNobody &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        execve(MOBIVERT_CLI_PROGRAM, argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    CliResult result;
    bool signalled = run.SignalWhen.empty();
    std::array<pollfd, 2> fds{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
    auto deadline = std::chrono::steady_clock::now() + 120s;
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.Out : result.Err).append(buffer, n);
        }
        if (!signalled && result.Err.find(run.SignalWhen) != std::string::npos) {
            for (int signal : run.Signals)
                kill(pid, signal);
            signalled = true;
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    int status = 0;
    if (open > 0)
        kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// FNV-1a of a file's bytes.
uint64_t Checksum(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint64_t hash = 1469598103934665603ull;
    char c;
    while (in.get(c))
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

size_t FileCount(const fs::path& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

class CliTest : public ::testing::Test {
protected:
    // Every run gets a home and config folder of its own, so nothing outside the test's
    // folders is read or written.
    CliResult Run(std::vector<std::string> args, CliRun run = {}) {
        run.Args = std::move(args);
        run.Env.push_back({"HOME", home.Path().string()});
        run.Env.push_back({"XDG_CONFIG_HOME", home.File("config")});
        run.Env.push_back({"XDG_STATE_HOME", home.File("state")});
        return RunCli(run);
    }
    void WriteConfig(const std::string& text) {
        fs::create_directories(home.Path() / "config" / "Corvel" / "Mobivert");
        std::ofstream(home.File("config/Corvel/Mobivert/config.ini")) << text;
    }

    TempDir home;
    TempDir work;
};

} // namespace

TEST_F(CliTest, UsageErrorsExitWithStatusTwoAndTheDialogsMessages) {
    struct Case {
        std::vector<std::string> Args;
        std::string Message;
    };
    std::string clip = Fixture("h264_aac.mp4");
    for (const Case& c : std::vector<Case>{
             {{}, "Please choose a file."},
             {{clip}, "Please choose an output format."},
             {{"-p", "Click to select", clip}, "Please choose an output format."},
             {{"-p", "0", clip}, "Please choose an output format."},
             {{"-p", "32", clip}, "Unknown preset: 32"},
             {{"-p", "wave audio (*.wav)", clip}, "Unknown preset: wave audio (*.wav)"},
             {{"-p", "8", "--video-bitrate", "12a", clip},
              "The video bit rate must be an integer value"},
             {{"-p", "8", "--audio-bitrate", "", clip},
              "The audio bit rate must be an integer value"},
             {{"-p", "8", "--size", "320", clip},
              "The width and height of the video must be integers"},
             {{"-p", "8", "--size", "320xabc", "--video-bitrate", "x", clip},
              "The width and height of the video must be integers"},
             {{"-p", "8", "--channels", "5.1", clip}, "--channels takes mono or stereo"},
             {{"-p", "8", "--sample-rate", "48000", clip}, "--sample-rate takes"},
             {{"-p", "8", "--aspect", "1:1", clip}, "--aspect takes"},
             {{"-p", "8", "--fps", "24", clip}, "--fps takes"},
             {{"-p", "8", "-j", "0", clip}, "-j takes"},
             {{"-p", "8", "-x", "novalue", clip}, "-x takes NAME=VALUE"},
             {{"-p", "8", "-i", "=1", clip}, "-i takes NAME=VALUE"},
             {{"-p", "8", "-x", "b=1\nab=2", clip}, "-x takes NAME=VALUE"},
             {{"-p", "8", "-o", work.File("o"), "-s", clip}, "-o and -s cannot be used together"},
             {{"-p", "8", "--bogus", clip}, "Unknown option: --bogus"},
             {{"-p"}, "-p needs a value"},
             {{"--info"}, "--info needs a file"},
         }) {
        CliResult r = Run(c.Args);
        std::string shown;
        for (const std::string& a : c.Args)
            shown += "[" + a + "]";
        EXPECT_EQ(r.Status, 2) << shown << "\n" << r.Err;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << shown << "\n" << r.Err;
        EXPECT_EQ(r.Out, "") << shown;
    }
    // Nothing was written for any of them.
    EXPECT_FALSE(fs::exists(home.File("CorvelVideo")));
    EXPECT_FALSE(fs::exists(work.File("o")));
}

TEST_F(CliTest, ListPresetsNumbersTheTwentyOneThenTheModernPresetsInOrder) {
    CliResult r = Run({"--list-presets"});
    EXPECT_EQ(r.Status, 0);
    std::vector<std::string> lines = Lines(r.Out);
    const auto& classic = mobivert::app::Presets();
    const auto& modern = mobivert::app::ModernPresets();
    ASSERT_EQ(lines.size(), 31u);
    for (size_t i = 0; i < lines.size(); ++i) {
        char expected[128];
        std::snprintf(expected, sizeof expected, "%2zu  %s", i + 1,
                      i < 21 ? classic[i].Text : modern[i - 21].Text);
        EXPECT_EQ(lines[i], expected);
    }
    EXPECT_EQ(lines[21], "22  MP4 H.264 (*.mp4)");
    EXPECT_EQ(lines[30], "31  OGG Vorbis (*.ogg)");
}

TEST_F(CliTest, HelpAndVersionStillWork) {
    CliResult help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("usage: mobivert-cli -p PRESET"), std::string::npos);
    CliResult version = Run({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_NE(version.Out.find("libavcodec    59."), std::string::npos) << version.Out;
}

TEST_F(CliTest, InfoPrintsStreamsCodecsSizesRatesAndDurations) {
    CliResult r = Run({"--info", Fixture("h264_aac.mp4"), Fixture("mono8k.wav")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Out.find("Container: mov,mp4"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("duration 2.000 s"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Stream #0: video h264, 640x480, 25 fps"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Stream #1: audio aac, 2 channel(s), 44100 Hz"), std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find("Stream #0: audio pcm_s16le, 1 channel(s), 8000 Hz, 128 kbit/s"),
              std::string::npos)
        << r.Out;

    CliResult missing = Run({"--info", work.File("missing.mp4"), Fixture("tone.mp3")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Out.find("missing.mp4: Error found:"), std::string::npos) << missing.Out;
    EXPECT_NE(missing.Out.find("audio mp3, 2 channel(s), 44100 Hz"), std::string::npos)
        << missing.Out;
}

TEST_F(CliTest, ConvertsByPresetNumberIntoTheGivenFolderAndReportsDone) {
    std::string out = work.File("new/folder");
    CliResult r = Run({"-p", "21", "-o", out, Fixture("h264_aac.mp4")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::string output = out + "/h264_aac (Wave Audio).wav";
    EXPECT_EQ(r.Out, Fixture("h264_aac.mp4") + " -> " + output + ": Done\n");
    EXPECT_EQ(MediaInfoText(output, "Audio;%Channel(s)% %SamplingRate%"), "2 44100");
    EXPECT_EQ(MediaInfoText(output, "Video;%Format%"), "");
    // Not a terminal: plain progress lines, ending with the file's status.
    EXPECT_NE(r.Err.find("h264_aac.mp4: Done\n"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find("\x1b["), std::string::npos);
}

TEST_F(CliTest, WithoutOutputOptionsTheWindowsFolderIsUsed) {
    // Nothing stored: ~/CorvelVideo.
    CliResult first = Run({"-p", "MP3 MPEG Layer-3 (*.mp3)", Fixture("tone.mp3")});
    EXPECT_EQ(first.Status, 0) << first.Err;
    EXPECT_TRUE(fs::exists(home.File("CorvelVideo/tone (MP3 MPEG Layer-3).mp3")));

    // strOutput.
    WriteConfig("[Main]\nstrOutput=" + work.File("stored") + "\nbooSameFolder=0\n");
    CliResult second = Run({"-p", "17", Fixture("tone.mp3")});
    EXPECT_EQ(second.Status, 0) << second.Err;
    EXPECT_TRUE(fs::exists(work.File("stored/tone (MP3 MPEG Layer-3).mp3")));

    // booSameFolder=1 writes beside the source; -o still wins over it.
    fs::copy_file(Fixture("tone.mp3"), work.File("tone.mp3"));
    WriteConfig("[Main]\nstrOutput=" + work.File("stored") + "\nbooSameFolder=1\n");
    CliResult third = Run({"-p", "17", work.File("tone.mp3")});
    EXPECT_EQ(third.Status, 0) << third.Err;
    EXPECT_TRUE(fs::exists(work.File("tone (MP3 MPEG Layer-3).mp3")));
    CliResult fourth = Run({"-p", "17", "-o", work.File("explicit"), work.File("tone.mp3")});
    EXPECT_EQ(fourth.Status, 0) << fourth.Err;
    EXPECT_TRUE(fs::exists(work.File("explicit/tone (MP3 MPEG Layer-3).mp3")));
    EXPECT_EQ(FileCount(work.File("stored")), 1u);
}

TEST_F(CliTest, BadInputsAreSkippedWithTheirReasonAndTheOthersStillConvert) {
    std::string empty = work.File("empty.mp4");
    std::ofstream(empty).close();
    std::string text = work.File("readme.avi");
    std::ofstream(text) << "plain text, not media\n";
    std::string unreadable = work.File("locked.mp4");
    fs::copy_file(Fixture("h264_aac.mp4"), unreadable);
    chmod(unreadable.c_str(), 0);
    std::string good = work.File("good.mp4");
    fs::copy_file(Fixture("h264_aac.mp4"), good);
    std::string folder = work.File("folder.avi");
    fs::create_directories(folder);
    std::string out = work.File("out");
    fs::create_directories(out);
    // Run as an unprivileged user when the tests run as root, so the locked file is unreadable.
    chmod(work.Path().c_str(), 0777);
    chmod(out.c_str(), 0777);
    chmod(good.c_str(), 0644);
    std::vector<std::string> inputs{
        work.File("missing.mp4"), folder, empty, text, unreadable, good};
    std::map<std::string, uint64_t> before;
    for (const std::string& file : {empty, text, unreadable, good})
        before[file] = Checksum(file);

    CliRun run;
    run.AsNobody = geteuid() == 0;
    std::vector<std::string> args{"-p", "15", "-o", out};
    args.insert(args.end(), inputs.begin(), inputs.end());
    CliResult r = Run(args, run);
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), inputs.size()) << r.Out;
    EXPECT_EQ(lines[0], work.File("missing.mp4") + ": Error found: " + work.File("missing.mp4") +
                            ": no such file or directory");
    EXPECT_EQ(lines[1], folder + ": Error found: " + folder + ": is a folder, not a file");
    EXPECT_EQ(lines[2], empty + ": Error found: " + empty + ": the file is empty");
    EXPECT_EQ(lines[3].rfind(text + ": Error found: " + text + ": ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4],
              unreadable + ": Error found: " + unreadable + ": cannot be read: Permission denied");
    EXPECT_EQ(lines[5], good + " -> " + out + "/good (Windows Media Video).wmv: Done");
    EXPECT_EQ(FileCount(out), 1u);
    if (geteuid() == 0)
        chmod(unreadable.c_str(), 0644);
    for (const auto& [file, sum] : before)
        EXPECT_EQ(Checksum(file), sum) << file;
}

TEST_F(CliTest, ExistingFilesAreNeverOverwrittenAndSameNamedSourcesNeverCollide) {
    std::string out = work.File("out");
    fs::create_directories(out);
    std::ofstream(out + "/clip (AVI Video).avi") << "precious";
    fs::create_directories(work.Path() / "a");
    fs::create_directories(work.Path() / "b");
    fs::copy_file(Fixture("h264_aac.mp4"), work.File("a/clip.mp4"));
    fs::copy_file(Fixture("fps30.mp4"), work.File("b/clip.mp4"));
    uint64_t sourceA = Checksum(work.File("a/clip.mp4"));
    uint64_t sourceB = Checksum(work.File("b/clip.mp4"));

    CliResult r = Run({"-p", "8", "-o", out, work.File("a/clip.mp4"), work.File("b/clip.mp4")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, work.File("a/clip.mp4") + " -> " + out + "/clip (AVI Video [1]).avi: Done\n" +
                         work.File("b/clip.mp4") + " -> " + out +
                         "/clip (AVI Video [2]).avi: Done\n");
    std::ifstream precious(out + "/clip (AVI Video).avi");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(precious), {}), "precious");
    EXPECT_EQ(MediaInfoText(out + "/clip (AVI Video [1]).avi", "Video;%Width%x%Height%"),
              "640x480");
    EXPECT_EQ(MediaInfoText(out + "/clip (AVI Video [2]).avi", "Video;%Width%x%Height%"),
              "320x240");
    EXPECT_EQ(Checksum(work.File("a/clip.mp4")), sourceA);
    EXPECT_EQ(Checksum(work.File("b/clip.mp4")), sourceB);
}

TEST_F(CliTest, OptionChoicesReachTheOutput) {
    std::string out = work.File("out");
    CliResult r = Run({"-p", "Windows Media Video (*.wmv)", "--size", "320x240", "--channels",
                       "mono", "--sample-rate", "22050", "-o", out, Fixture("h264_aac.mp4")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::string output = out + "/h264_aac (Windows Media Video).wmv";
    EXPECT_EQ(MediaInfoText(output, "Video;%Width%x%Height%"), "320x240");
    EXPECT_EQ(MediaInfoText(output, "Audio;%Channel(s)% %SamplingRate%"), "1 22050");

    // The MPEG-1 preset's 224 kbit/s does not exist for MPEG audio at 22050 Hz: the nearest
    // rate that does (160) is used.
    CliResult mpeg1 = Run({"-p", "12", "--sample-rate", "22050", "-o", out, Fixture("tone.mp3")});
    EXPECT_EQ(mpeg1.Status, 0) << mpeg1.Out << mpeg1.Err;
    EXPECT_EQ(MediaInfoText(out + "/tone (MPEG-1 Video).mpg",
                            "Audio;%Format_Profile% %SamplingRate% %BitRate%"),
              "Layer 2 22050 160000");

    // An odd width passes the integer check but refuses every file with video.
    CliResult odd = Run(
        {"-p", "15", "--size", "321x240", "-o", out, Fixture("h264_aac.mp4"), Fixture("tone.mp3")});
    EXPECT_EQ(odd.Status, 1);
    std::vector<std::string> lines = Lines(odd.Out);
    ASSERT_EQ(lines.size(), 2u) << odd.Out;
    EXPECT_EQ(lines[0].rfind(Fixture("h264_aac.mp4") + ": Error found: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1],
              Fixture("tone.mp3") + " -> " + out + "/tone (Windows Media Video).wmv: Done");
}

TEST_F(CliTest, ExtraOptionsGoToEveryInputAndOutput) {
    std::string out = work.File("out");
    // 1 s of output ("t"), starting 0.5 s into each input ("ss").
    CliResult r = Run({"-p", "21", "-x", "t=1", "-i", "ss=0.5", "-o", out, Fixture("tone.mp3"),
                       Fixture("sine_stereo_44k.wav")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    for (const char* name : {"tone (Wave Audio).wav", "sine_stereo_44k (Wave Audio).wav"}) {
        std::string duration = MediaInfoText(out + "/" + name, "General;%Duration%");
        ASSERT_FALSE(duration.empty()) << name;
        EXPECT_NEAR(std::stod(duration), 1000, 50) << name;
    }
    // Values the engine refuses are usage errors, refused before any file is touched, with the
    // option and the engine's reason.
    const size_t before = FileCount(out);
    CliResult bad = Run({"-p", "8", "-x", "s=abc", "-o", out, Fixture("h264_aac.mp4")});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_EQ(bad.Out, "");
    EXPECT_EQ(bad.Err.rfind("mobivert-cli: -x s=abc: option \"s\": Incorrect frame size\n", 0), 0u)
        << bad.Err;
    CliResult badInput = Run({"-p", "21", "-i", "f=nosuchformat", "-o", out, Fixture("tone.mp3")});
    EXPECT_EQ(badInput.Status, 2);
    EXPECT_EQ(badInput.Out, "");
    EXPECT_EQ(badInput.Err.rfind("mobivert-cli: -i f=nosuchformat: option \"f\": Unknown input or "
                                 "output format: nosuchformat\n",
                                 0),
              0u)
        << badInput.Err;
    EXPECT_EQ(FileCount(out), before);
}

TEST_F(CliTest, SeveralConversionsAtOnceAllFinish) {
    std::string out = work.File("out");
    CliResult r = Run({"-p", "9", "-j", "3", "-o", out, Fixture("h264_aac.mp4"),
                       Fixture("fps30.mp4"), Fixture("h264_mp3.flv"), Fixture("mpeg4_mp3.avi")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 4u) << r.Out;
    for (const std::string& line : lines)
        EXPECT_EQ(line.substr(line.size() - 6), ": Done") << line;
    EXPECT_EQ(FileCount(out), 4u);
}

TEST_F(CliTest, LibraryRefusalsReachTheUserWithTheLibrarysReason) {
    // The WMA v2 encoder takes no bit rate below 24 kbit/s and says so only in its log; even
    // with the log quiet the Failed line carries that reason.
    std::string out = work.File("out");
    CliResult r = Run({"-q", "-p", "Windows Media Audio (*.wma)", "--audio-bitrate", "16", "-o",
                       out, Fixture("tone.mp3")});
    EXPECT_EQ(r.Status, 1);
    std::string failed = ": Failed: Error while opening codec for output stream #0.0 - maybe "
                         "incorrect parameters such as bit_rate, rate, width or height: bitrate "
                         "too low: got 16000, need 24000 or higher\n";
    EXPECT_EQ(r.Out.rfind(Fixture("tone.mp3"), 0), 0u) << r.Out;
    ASSERT_GT(r.Out.size(), failed.size());
    EXPECT_EQ(r.Out.substr(r.Out.size() - failed.size()), failed) << r.Out;
    // At the ordinary level the library's own line is in the log as well.
    CliResult logged = Run({"-p", "16", "--audio-bitrate", "16", "-o", out, Fixture("tone.mp3")});
    EXPECT_EQ(logged.Status, 1);
    EXPECT_NE(logged.Err.find("[wmav2 @ "), std::string::npos) << logged.Err;

    // A source the demuxer refuses: its reason follows the header error.
    std::string truncated = work.File("truncated.mp4");
    {
        std::ifstream in(Fixture("h264_aac.mp4"), std::ios::binary);
        std::vector<char> head(20000);
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(truncated, std::ios::binary).write(head.data(), in.gcount());
    }
    CliResult refused = Run({"-q", "-p", "16", "-o", out, truncated});
    EXPECT_EQ(refused.Out, truncated + ": Error found: " + truncated +
                               ": Error while parsing header: moov atom not found\n");
}

TEST_F(CliTest, InterruptDuringTheFirstOfThreeCancelsAllAndKeepsAReadablePartialOutput) {
    std::string out = work.File("out");
    CliRun run;
    // Read the inputs at their own pace, so the first file takes 3 s; interrupt once its
    // first progress line shows.
    run.SignalWhen = "sample.mp4: ";
    CliResult r = Run({"-p", "8", "-i", "re=1", "-o", out, Fixture("sample.mp4"),
                       Fixture("h264_aac.mp4"), Fixture("fps30.mp4")},
                      run);
    EXPECT_EQ(r.Status, 1) << r.Err;
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 3u) << r.Out << r.Err;
    // Kept under a name that says it is partial.
    std::string partial = out + "/sample (AVI Video) [partial].avi";
    EXPECT_EQ(lines[0], Fixture("sample.mp4") + " -> " + partial + ": Canceled");
    EXPECT_EQ(lines[1], Fixture("h264_aac.mp4") + ": Canceled");
    EXPECT_EQ(lines[2], Fixture("fps30.mp4") + ": Canceled");
    // The stopped output is complete as far as it goes: an independent reader sees both
    // streams and a duration short of the source's 3 s.
    EXPECT_EQ(MediaInfoText(partial, "Video;%Format% %Width%x%Height%"), "MPEG-4 Visual 320x240");
    EXPECT_EQ(MediaInfoText(partial, "Audio;%Format%"), "PCM");
    std::string duration = MediaInfoText(partial, "General;%Duration%");
    ASSERT_FALSE(duration.empty());
    EXPECT_GT(std::stod(duration), 200);
    EXPECT_LT(std::stod(duration), 2900);
    // Files that never started leave nothing behind.
    EXPECT_EQ(FileCount(out), 1u);
}

TEST_F(CliTest, SigtermStopsLikeInterruptAndASecondSignalQuitsAtOnce) {
    std::string out = work.File("out");
    CliRun term;
    term.SignalWhen = "sample.mp4: ";
    term.Signals = {SIGTERM};
    CliResult r = Run({"-p", "8", "-i", "re=1", "-o", out, Fixture("sample.mp4")}, term);
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, Fixture("sample.mp4") + " -> " + out +
                         "/sample (AVI Video) [partial].avi: Canceled\n");

    // Two signals at once, as timeout(1) sends them to the process and to its group, are one
    // request to stop. (Two different signals, so that neither can merge into the other while
    // pending.)
    CliRun twice;
    twice.SignalWhen = "sample.mp4: ";
    twice.Signals = {SIGTERM, SIGINT};
    std::string together = work.File("together");
    CliResult stopped =
        Run({"-p", "8", "-i", "re=1", "-o", together, Fixture("sample.mp4")}, twice);
    EXPECT_EQ(stopped.Status, 1) << stopped.Err;
    EXPECT_EQ(stopped.Out, Fixture("sample.mp4") + " -> " + together +
                               "/sample (AVI Video) [partial].avi: Canceled\n");

    // A second signal half a second or more after the first quits at once; one within that
    // time is the same request again.
    using mobivert::cli::TStopSignals;
    TStopSignals requests;
    TStopSignals::Clock::time_point first{std::chrono::seconds(100)};
    EXPECT_EQ(requests.Receive(first), TStopSignals::TAction::Stop);
    EXPECT_EQ(requests.Receive(first + 499ms), TStopSignals::TAction::Ignore);
    EXPECT_EQ(requests.Receive(first + 500ms), TStopSignals::TAction::Quit);
}

TEST_F(CliTest, ANewlineInAFileNameNeverSplitsAReportLine) {
    std::string source = work.File("two\nlines.mp3");
    fs::copy_file(Fixture("tone.mp3"), source);
    std::string out = work.File("out");
    CliResult r = Run({"-p", "21", "-o", out, source});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, work.File("two\\nlines.mp3") + " -> " + out +
                         "/two\\nlines (Wave Audio).wav: Done\n");
    EXPECT_TRUE(fs::exists(out + "/two\nlines (Wave Audio).wav"));
}

TEST_F(CliTest, OutputsThatDifferFromTheirSourceAreDoneWithWarningsAndExitThree) {
    std::string out = work.File("out");
    CliResult r = Run({"-p", "8", "-o", out, Fixture("cut_short.mp4"), Fixture("h264_aac.mp4")});
    EXPECT_EQ(r.Status, 3) << r.Err;
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 2u) << r.Out;
    std::string head = Fixture("cut_short.mp4") + " -> " + out +
                       "/cut_short (AVI Video).avi: Done with warnings: video ";
    EXPECT_EQ(lines[0].substr(0, head.size()), head) << lines[0];
    EXPECT_NE(lines[0].find(" s of 4.0 s, audio "), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], Fixture("h264_aac.mp4") + " -> " + out + "/h264_aac (AVI Video).avi: Done");
}

TEST_F(CliTest, KilledMidBatchLeavesNoIncompleteFinalNameAndResumeFinishesTheRest) {
    std::string out = work.File("out");
    CliRun run;
    // Killed once the second of three files shows progress (the inputs are read at their own
    // pace, so each file takes seconds).
    run.SignalWhen = "h264_aac.mp4: ";
    run.Signals = {SIGKILL};
    CliResult killed = Run({"-p", "8", "-i", "re=1", "-o", out, Fixture("sample.mp4"),
                            Fixture("h264_aac.mp4"), Fixture("fps30.mp4")},
                           run);
    ASSERT_EQ(killed.Status, 128 + SIGKILL) << killed.Err;
    std::vector<std::string> visible, hidden;
    for (const auto& entry : fs::directory_iterator(out)) {
        std::string name = entry.path().filename().string();
        (name[0] == '.' ? hidden : visible).push_back(name);
    }
    // Under a final name only what is complete: the first file, all 3 s of it.
    EXPECT_EQ(visible, std::vector<std::string>{"sample (AVI Video).avi"});
    EXPECT_GT(std::stod(MediaInfoText(out + "/sample (AVI Video).avi", "General;%Duration%")),
              2900);
    EXPECT_FALSE(hidden.empty());

    CliResult resumed = Run({"--resume"});
    EXPECT_EQ(resumed.Status, 0) << resumed.Err;
    EXPECT_EQ(resumed.Out, Fixture("h264_aac.mp4") + " -> " + out +
                               "/h264_aac (AVI Video).avi: Done\n" + Fixture("fps30.mp4") + " -> " +
                               out + "/fps30 (AVI Video).avi: Done\n");
    // Exactly the unfinished files, nothing twice, no work file left, no batch left to resume.
    EXPECT_EQ(FileCount(out), 3u);
    for (const char* name : {"h264_aac (AVI Video).avi", "fps30 (AVI Video).avi"})
        EXPECT_GT(std::stod(MediaInfoText(out + "/" + name, "General;%Duration%")), 1900) << name;
    CliResult again = Run({"--resume"});
    EXPECT_EQ(again.Status, 0);
    EXPECT_EQ(again.Out, "");
}

TEST_F(CliTest, TwoProgramsConvertingIntoTheSameFolderNeverShareAnOutput) {
    std::string out = work.File("out");
    std::vector<std::string> args{
        "-p", "8", "-o", out, Fixture("h264_aac.mp4"), Fixture("fps30.mp4")};
    auto first = std::async(std::launch::async, [&] { return Run(args); });
    CliResult second = Run(args);
    CliResult one = first.get();
    EXPECT_EQ(one.Status, 0) << one.Err;
    EXPECT_EQ(second.Status, 0) << second.Err;
    std::set<std::string> outputs;
    for (const std::string& line : Lines(one.Out + second.Out)) {
        size_t arrow = line.find(" -> "), end = line.rfind(": Done");
        ASSERT_TRUE(arrow != std::string::npos && end != std::string::npos) << line;
        outputs.insert(line.substr(arrow + 4, end - arrow - 4));
    }
    EXPECT_EQ(outputs.size(), 4u);
    EXPECT_EQ(FileCount(out), 4u);
    for (const std::string& output : outputs)
        EXPECT_GT(std::stod(MediaInfoText(output, "General;%Duration%")), 1900) << output;
}

TEST_F(CliTest, ResumeSetsADamagedJournalAside) {
    fs::path folder = home.Path() / "state" / "Corvel" / "Mobivert";
    fs::create_directories(folder);
    std::ofstream(folder / "batch-old.journal") << "Corvel Mobivert batch journal 7\n";
    CliResult r = Run({"--resume"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("set aside"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("unknown version"), std::string::npos) << r.Err;
    EXPECT_TRUE(fs::exists(folder / "batch-old.journal.damaged"));
    EXPECT_FALSE(fs::exists(folder / "batch-old.journal"));
}

// A value the user asked for that the encoder does not take refuses the file, naming what the
// encoder takes; the same value derived from a source would have been fitted.
TEST_F(CliTest, AskedForValuesAnEncoderRefusesNameItsLimit) {
    std::string out = work.File("out");
    std::string clip = Fixture("h264_aac.mp4");
    struct Case {
        std::vector<std::string> Args;
        std::string Reason;
    };
    for (const Case& c : std::vector<Case>{
             {{"-p", "2", "--size", "320x240"},
              "new_video_stream fail: Video encoder h263 takes only the picture sizes 128x96, "
              "176x144, 352x288, 704x576 and 1408x1152, not 320x240"},
             {{"-p", "14", "--size", "328x240"},
              "new_video_stream fail: Video encoder rv10 takes only picture sizes whose width and "
              "height are multiples of 16, not 328x240"},
             {{"-p", "20", "--sample-rate", "44100"},
              "new_audio_stream fail: Audio encoder libopencore_amrnb takes only 8000 Hz, not "
              "44100 Hz"},
             {{"-p", "20", "--channels", "stereo"},
              "new_audio_stream fail: Audio encoder libopencore_amrnb takes only mono, not "
              "stereo"},
         }) {
        std::vector<std::string> args = c.Args;
        args.insert(args.end(), {"-q", "-o", out, clip});
        CliResult r = Run(args);
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Out, clip + ": Error found: " + c.Reason + "\n");
    }
    EXPECT_FALSE(fs::exists(out) && FileCount(out) > 0);
}

// Options typed with -x win over the output record's always-assigned values and the preset's.
// Each is checked in what MediaInfo or GStreamer read from the output.
TEST_F(CliTest, TypedOptionsWinOverTheRecordAndThePreset) {
    std::string out = work.File("out");
    auto convert = [&](const std::string& preset, std::vector<std::string> options,
                       const std::string& source) {
        std::vector<std::string> args{"-q", "-p", preset, "-o", out};
        for (const std::string& option : options) {
            args.push_back("-x");
            args.push_back(option);
        }
        args.push_back(Fixture(source));
        CliResult r = Run(args);
        EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
        std::string line = r.Out.substr(0, r.Out.find(": Done"));
        return line.substr(line.find(" -> ") + 4);
    };

    // target=pal-dvd: 720x576 MPEG-2 with AC-3, whatever the MPEG-1 preset says.
    std::string dvd = convert("12", {"target=pal-dvd"}, "h264_aac.mp4");
    EXPECT_EQ(MediaInfoText(dvd, "Video;%Format% %Format_Version% %Width%x%Height%"),
              "MPEG Video Version 2 720x576");
    EXPECT_EQ(MediaInfoText(dvd, "Audio;%Format%"), "AC-3");

    // async=1: audio that starts 0.5 s late gets 0.5 s of silence in front (WAV keeps no
    // timestamps, so only the samples tell).
    std::string padded = convert("21", {"async=1"}, "late_audio.mkv");
    EXPECT_NEAR(std::stod(MediaInfoText(padded, "General;%Duration%")), 2000, 60);

    // vsync=0: a 15 fps source keeps its 30 pictures in a 29.97 fps preset (not 60).
    std::string unsynced = convert("13", {"vsync=0"}, "fps15.mp4");
    EXPECT_EQ(MediaInfoText(unsynced, "Video;%FrameCount%"), "30");

    // copyts=1: the 12 s timestamp jump stays in the output instead of being closed.
    std::string copied = convert("13", {"vsync=0", "copyts=1"}, "ts_jump.ts");
    EXPECT_NEAR(std::stod(MediaInfoText(copied, "General;%Duration%")), 16000, 300);

    // padcolor=255 (red in the lowest byte) paints the 16-row bands the pads add.
    std::string paddedVideo =
        convert("9", {"padtop=16", "padbottom=16", "padcolor=255"}, "sar_8_9.mp4");
    EXPECT_EQ(MediaInfoText(paddedVideo, "Video;%Width%x%Height%"), "640x512");
    std::string rgb = work.File("first.rgb");
    std::string pipeline = "gst-launch-1.0 -q filesrc location='" + paddedVideo +
                           "' ! decodebin ! videoconvert ! video/x-raw,format=RGB ! "
                           "identity eos-after=1 ! filesink location='" +
                           rgb + "'";
    ASSERT_EQ(std::system(pipeline.c_str()), 0) << pipeline;
    std::ifstream picture(rgb, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(picture)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 640u * 512 * 3);
    for (int row : {4, 507}) {
        const unsigned char* pixel = &bytes[(static_cast<size_t>(row) * 640 + 320) * 3];
        EXPECT_GT(pixel[0], 200) << "row " << row;
        EXPECT_LT(pixel[1], 60) << "row " << row;
        EXPECT_LT(pixel[2], 60) << "row " << row;
    }
}

TEST_F(CliTest, ProgressLinesShowTheSpeedAndTheTimeLeft) {
    // Read at the input's own pace: about real time, and the 3 s file's end is a second or
    // two away when the second line is printed.
    CliResult r = Run({"-p", "21", "-i", "re=1", "-o", work.File("out"), Fixture("sample.mp4")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(std::regex_search(
        r.Err, std::regex(R"(sample\.mp4: \d+% \((0\.9|1\.0|1\.1)x, 0:0[0-2] left\)\n)")))
        << r.Err;
}

TEST_F(CliTest, ABatchLongerThanTheDescriptorLimitConvertsEveryFile) {
    std::string out = work.File("out");
    std::vector<std::string> args{"-p", "21", "-q", "-o", out};
    for (int i = 0; i < 100; ++i) {
        args.push_back(work.File("s" + std::to_string(i) + ".wav"));
        fs::copy_file(Fixture("mono8k.wav"), args.back());
    }
    CliRun run;
    run.FileLimit = 64;
    // Inside the front end, so that its own re-opening of the waiting tasks is what is tested
    // (and the run stays short); the component's tests cover the workers under a low limit.
    run.Env.push_back({"MOBIVERT_WORKER", "none"});
    CliResult r = Run(args, run);
    EXPECT_EQ(r.Status, 0) << r.Out.substr(0, 2000);
    std::vector<std::string> lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 100u) << r.Out.substr(0, 2000);
    for (const std::string& line : lines)
        EXPECT_EQ(line.substr(line.size() - 6), ": Done") << line;
    EXPECT_EQ(FileCount(out), 100u);
}

TEST_F(CliTest, AConversionThatAbortsFailsAloneAndTheBatchGoesOn) {
    std::string truncated = work.File("truncated.ts");
    {
        std::ifstream in(Fixture("h264.ts"), std::ios::binary);
        std::string head(474, '\0');
        in.read(head.data(), head.size());
        std::ofstream(truncated, std::ios::binary) << head;
    }
    struct Case {
        std::string Bad;   // the source whose conversion fails
        std::string Fault; // the worker's injected abort, if any
        std::string Reason;
    };
    // The worker's own abort at a chosen point, and a damaged source the libraries may abort on
    // (or refuse with a message of their own).
    for (const Case& c : {Case{Fixture("fps30.mp4"), "progress:fps30",
                               "the conversion stopped unexpectedly: SIGABRT"},
                          Case{truncated, "", ""}}) {
        SCOPED_TRACE(c.Bad);
        std::string out = work.File(c.Fault.empty() ? "damaged" : "fault");
        CliRun run;
        if (!c.Fault.empty())
            run.Env.push_back({"MOBIVERT_WORKER_FAULT", c.Fault});
        CliResult r = Run({"-p", "3GPP 176*144 (*.3gp)", "-o", out, Fixture("h264_aac.mp4"), c.Bad,
                           Fixture("sample.mp4")},
                          run);
        EXPECT_EQ(r.Status, 1) << r.Err;
        std::vector<std::string> lines = Lines(r.Out);
        ASSERT_EQ(lines.size(), 3u) << r.Out << r.Err;
        EXPECT_EQ(lines[0].substr(lines[0].size() - 6), ": Done") << lines[0];
        EXPECT_EQ(lines[2].substr(lines[2].size() - 6), ": Done") << lines[2];
        std::string failed = ": Failed: " + c.Reason;
        // Nothing is left of the failed output, so the line names none.
        EXPECT_EQ(lines[1].rfind(c.Bad + ": Failed: ", 0), 0u) << lines[1];
        EXPECT_NE(lines[1].find(failed), std::string::npos) << lines[1];
        EXPECT_EQ(FileCount(out), 2u);
    }
}

// ---- Nothing raw to the terminal

namespace {

// Whether a terminal would only show the text: no C0 control but the line feed, no DEL, valid
// UTF-8 throughout, and no character U+0080..U+009F.
bool OnlyShown(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if ((byte < 0x20 && byte != '\n') || byte == 0x7F)
                return false;
            ++at;
            continue;
        }
        if (byte == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) < 0xA0)
            return false;
        size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 0;
        if (length == 0 || at + length > text.size())
            return false;
        for (size_t i = 1; i < length; ++i)
            if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
                return false;
        at += length;
    }
    return true;
}

} // namespace

TEST(TerminalTextTest, EveryByteATerminalActsOnIsEscapedAndLettersStay) {
    struct Case {
        std::string In, Out;
    } cases[] = {
        {"plain name.mp4", "plain name.mp4"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"\x1b]0;title\x07", "\\x1b]0;title\\x07"}, // sets the window title
        {std::string("nul\0x", 5), "nul\\x00x"},    // C0 including NUL
        {"del\x7f", "del\\x7f"},                    // DEL
        {"csi\x9b"
         "2J",
         "csi\\x9b2J"}, // raw C1 (8-bit CSI)
        {"osc\xc2\x9d"
         "0;t\xc2\x9c",
         "osc\\u009d0;t\\u009c"},                                   // encoded U+009D, U+009C
        {"\xc2\x80 \xc2\x9f \xc2\xa0", "\\u0080 \\u009f \xc2\xa0"}, // the C1 range's ends
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xac"},
        {"cut \xe2\x82", "cut \\xe2\\x82"}, // a sequence cut short
        {"overlong \xc0\x9b \xe0\x80\x9b", "overlong \\xc0\\x9b \\xe0\\x80\\x9b"},
        {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
        {"\xff\xfe", "\\xff\\xfe"},
        {"back\\slash", "back\\slash"},
    };
    for (const Case& c : cases) {
        std::string escaped = mobivert::cli::Printable(c.In);
        EXPECT_EQ(escaped, c.Out) << c.In;
        EXPECT_TRUE(OnlyShown(escaped)) << escaped;
        EXPECT_EQ(mobivert::cli::Printable(escaped), escaped) << "escaping twice changes nothing";
    }
    EXPECT_EQ(mobivert::cli::PrintableLine("Failed:\r\nfirst\nsecond\x1b[2J\r\n"),
              "Failed: first second\\x1b[2J");
    // Cuts fall between characters.
    EXPECT_EQ(mobivert::cli::FittingBytes("ab\xe2\x82\xac", 4), 2u);
    EXPECT_EQ(mobivert::cli::FittingBytes("ab\xe2\x82\xac", 5), 5u);
}

TEST_F(CliTest, NamesReasonsProgressAndLogLinesAreShownNeverActedOn) {
    const std::string hostile = "t\x1b]0;owned\x07 \x9b"
                                "2J \xc2\x9b"
                                "2J \xe2\x82\xac";
    const std::string shown = "t\\x1b]0;owned\\x07 \\x9b2J \\u009b2J \xe2\x82\xac";
    fs::copy_file(Fixture("tone.mp3"), work.File(hostile + ".mp3"));
    // Reasons that quote names: a missing source, and a source that is no media.
    const std::string missing = work.File("gone" + hostile + ".mp3");
    std::ofstream(work.File("junk" + hostile + ".mp3")) << "not media at all\n";
    const std::string out = work.File("out");

    CliResult r = Run({"-v", "-p", "21", "-o", out, work.File(hostile + ".mp3"), missing,
                       work.File("junk" + hostile + ".mp3")});
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_TRUE(OnlyShown(r.Out)) << r.Out;
    EXPECT_TRUE(OnlyShown(r.Err)) << r.Err;
    const std::string folder = work.Path().string() + "/";
    EXPECT_NE(
        r.Out.find(folder + shown + ".mp3 -> " + out + "/" + shown + " (Wave Audio).wav: Done\n"),
        std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find(folder + "gone" + shown + ".mp3: Error found: " + folder + "gone" + shown +
                         ".mp3: no such file or directory\n"),
              std::string::npos)
        << r.Out;
    EXPECT_NE(r.Out.find(folder + "junk" + shown + ".mp3: Error found: " + folder + "junk" + shown),
              std::string::npos)
        << r.Out;
    // Progress and log lines name the file the same way.
    EXPECT_NE(r.Err.find(shown + ".mp3: "), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("[" + shown + ".mp3] "), std::string::npos) << r.Err;
    // The output itself keeps the name as it is.
    EXPECT_TRUE(fs::exists(out + "/" + hostile + " (Wave Audio).wav"));

    // --info prints names the same way.
    CliResult info = Run({"--info", work.File(hostile + ".mp3"), missing});
    EXPECT_TRUE(OnlyShown(info.Out)) << info.Out;
    EXPECT_EQ(info.Out.rfind(folder + shown + ".mp3\n", 0), 0u) << info.Out;
}

TEST(TerminalTextTest, TheLiveProgressLinesOnATerminalCarryNoControlButTheirOwnRedraw) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    {
        mobivert::cli::TProgressDisplay display(out, true, 80);
        // A long name is cut to the width: never inside a character (0x82 of the euro sign is C1).
        const std::string label =
            "\x1b]0;t\x07 " + std::string(22, 'a') + "\xe2\x82\xac\xe2\x82\xac.mp4";
        display.Update(0, label, 40, 1000,
                       "2.5x \x9b"
                       "2J");
        display.Update(1,
                       "b\xc2\x9b"
                       "2J.mp4",
                       -1, 1000);
        display.Message("[b.mp4] library says \x1b[2J\r\nand more");
        display.Finish(0, label, "Done", true);
        display.Finish(1, "b.mp4", "Failed: \x1b[31mred", false);
    }
    std::fclose(out);
    std::string written(text, size);
    std::free(text);
    // The display's own redraw: cursor up N lines, to the line's start, clear below.
    std::string shown = std::regex_replace(written, std::regex("\x1b\\[[0-9]+A\r\x1b\\[J"), "");
    EXPECT_NE(shown, written);
    EXPECT_TRUE(OnlyShown(shown)) << shown;
    EXPECT_NE(shown.find("library says \\x1b[2J and more\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Failed: \\x1b[31mred\n"), std::string::npos) << shown;
}
