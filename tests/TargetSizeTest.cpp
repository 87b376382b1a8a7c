// Converting to a target size: the sizes a user types, the plan that turns a size into a video
// bit rate, and the target-size test proper: a short clip written by GStreamer converted twice
// (H.264 in MP4 and VP9 in WebM) through mobivert-cli, each output within 5 % of its size,
// playable by GStreamer and as long as its source; every preset that codes to a size at its
// least size and a middle one (WebM AV1's in one pass at SVT-AV1's constant rate); the output
// pass coded again at a corrected rate when it misses, after two passes or one; too small and
// mistyped sizes refused; one progress over all passes; pause and stop in either pass.
//
// The figures (every preset on 1, 2 and 8 s at its least size and a middle one, 95-105 %) are
// in bench/README.md (run-target-size-bench.sh). Without the output pass coded again libx265
// gave 88-95 % on 1-2 s and libvpx 90 % at 150 kB on 2 s (both undershoot short clips),
// libopus took a sixth more than its rate, and libvpx at its speed 5 could not code below
// about a twentieth of a bit a pixel (133 % at the least size of the older rule).

#include "app/shared/TargetSize.h"
#include "converter/AVConverter.h"
#include "converter/SizeCorrection.h"
#include "support/CliPipe.h"
#include "support/MediaInfo.h"
#include "support/PictureReader.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <regex>
#include <thread>

using namespace mobivert::app;
using namespace std::chrono_literals;
using namespace mobivert::test;

namespace {

constexpr const char* CLIP = "zone_plate_tone.mp4"; // 2 s, 320x240, AAC stereo

bool PassFoldersIn(const std::string& folder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.path().filename().string().rfind("mobivert-passes-", 0) == 0)
            return true;
    return false;
}

// Converts the clip (twice at once with `twice`, so that two runs' passes overlap).
int ConvertToSize(const TempDir& dir, const std::string& preset, const std::string& size,
                  std::string& log, bool twice = false) {
    std::filesystem::create_directories(dir.File("tmp"));
    const std::string clip = ShellQuoted(Fixture(CLIP));
    return mobivert::test::RunCliThroughShell(
        "env TMPDIR=" + dir.File("tmp") + " XDG_CONFIG_HOME=" + dir.File("cfg") +
            " XDG_STATE_HOME=" + dir.File("state"),
        "-p " + preset + " --target-size " + size + " -o " + ShellQuoted(dir.File("out")) +
            (twice ? " -j 2 " + clip + " " + clip : " " + clip),
        true, log);
}

// The percentages of the plain progress lines, in order.
std::vector<int> Percentages(const std::string& log) {
    std::vector<int> seen;
    const std::regex line(std::string(CLIP) + ": ([0-9]+)%");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it)
        seen.push_back(std::stoi((*it)[1]));
    return seen;
}

} // namespace

TEST(TargetSizeTest, SizesCountInPowersOfTenUnlessNamedInPowersOfTwo) {
    struct Case {
        const char* Text;
        std::optional<int64_t> Bytes;
    };
    for (const Case& c : std::vector<Case>{{"25MB", 25000000},
                                           {"700M", 700000000},
                                           {"1.5GB", 1500000000},
                                           {" 2 gb ", 2000000000},
                                           {"800MiB", 800LL << 20},
                                           {"64KiB", 64 << 10},
                                           {"300kB", 300000},
                                           {"12", 12000000},
                                           {".5MB", 500000},
                                           {"0MB", std::nullopt},
                                           {"1..5GB", std::nullopt},
                                           {"GB", std::nullopt},
                                           {"-5MB", std::nullopt},
                                           {"5TB", std::nullopt},
                                           {"", std::nullopt}})
        EXPECT_EQ(ParseTargetSize(c.Text), c.Bytes) << c.Text;
    // Named sizes are rounded up, never down.
    EXPECT_EQ(SizeText(47201), "48 kB");
    EXPECT_EQ(SizeText(12340001), "12.4 MB");
    EXPECT_EQ(SizeText(1500000000), "1.5 GB");
}

TEST(TargetSizeTest, ThePlanLeavesTheVideoWhatTheSoundAndContainerDoNotTake) {
    // Ten minutes of 1280x720 at 25 fps with 128 kbit/s of sound into 100 MB.
    const TTargetSizePlan plan = PlanTargetSize(100000000, 600, 128000, 1280, 720, 25);
    const int64_t overhead = ContainerOverhead(100000000, 600, 25);
    EXPECT_EQ(plan.VideoBitRate, (100000000 - overhead) * 8 / 600 - 128000);
    EXPECT_TRUE(plan.Fits);
    // The smallest sensible size is where the video gets its least rate: it fits, a little
    // less does not.
    EXPECT_TRUE(PlanTargetSize(plan.SmallestBytes, 600, 128000, 1280, 720, 25).Fits);
    EXPECT_FALSE(PlanTargetSize(plan.SmallestBytes - 2000, 600, 128000, 1280, 720, 25).Fits);
    EXPECT_GE(PlanTargetSize(plan.SmallestBytes, 600, 128000, 1280, 720, 25).VideoBitRate,
              LeastVideoBitRate(1280, 720, 25));
    EXPECT_FALSE(PlanTargetSize(100000000, 0, 128000, 1280, 720, 25).Fits);
}

TEST(TargetSizeTest, AShortClipConvertedTwiceLandsWithinFivePercentOfEachSize) {
    struct Target {
        const char* Preset;
        const char* Size;
        int64_t Bytes;
        const char* Output;
    };
    for (const Target& t :
         std::vector<Target>{{"22", "400kB", 400000, "zone_plate_tone (MP4 H.264).mp4"},
                             {"24", "0.4MB", 400000, "zone_plate_tone (WebM VP9).webm"}}) {
        TempDir dir;
        std::string log;
        // H.264 converts the clip twice at once: each run keeps statistics of its own.
        const bool twice = std::string(t.Preset) == "22";
        ASSERT_EQ(ConvertToSize(dir, t.Preset, t.Size, log, twice), 0) << log;
        const std::string out = dir.File("out/" + std::string(t.Output));
        size_t outputs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
            const auto bytes = static_cast<double>(entry.file_size());
            EXPECT_NEAR(bytes / static_cast<double>(t.Bytes), 1.0, 0.05)
                << entry.path() << " " << bytes;
            ++outputs;
        }
        EXPECT_EQ(outputs, twice ? 2u : 1u) << log;
        EXPECT_TRUE(mobivert::test::PlaysInGStreamer(out)) << out;
        EXPECT_NEAR(MediaInfoSeconds(out), 2.0, 0.1) << out;
        // The first pass's statistics are gone with their folder.
        EXPECT_FALSE(PassFoldersIn(dir.File("tmp"))) << log;
        // Both passes show as one progress: it never goes back and ends at 100 (the lines of
        // two runs of the same clip would interleave).
        if (twice)
            continue;
        const std::vector<int> seen = Percentages(log);
        ASSERT_FALSE(seen.empty()) << log;
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << log;
        EXPECT_EQ(seen.back(), 100) << log;
    }
}

TEST(TargetSizeTest, AMissedOutputIsCodedAgainAtTheRateTheVideoShouldHaveTaken) {
    using mobivert::converter::CorrectedVideoBitRate;
    // Landed within 3 %: no other pass.
    EXPECT_EQ(CorrectedVideoBitRate(100000, 97500, 60000, 400000), std::nullopt);
    EXPECT_EQ(CorrectedVideoBitRate(100000, 102900, 60000, 400000), std::nullopt);
    // 10 % short, of which the sound and container took 30000: the video may take 70000 of the
    // 60000 it took, not a tenth more (which would land short again).
    EXPECT_EQ(CorrectedVideoBitRate(100000, 90000, 60000, 600000), 700000);
    // Over: the video gives back all that was too much.
    EXPECT_EQ(CorrectedVideoBitRate(100000, 120000, 80000, 800000), 600000);
    // Nothing to correct: the rest alone exceeds the target, no video counted, or a step
    // beyond fourfold.
    EXPECT_EQ(CorrectedVideoBitRate(100000, 150000, 40000, 400000), std::nullopt);
    EXPECT_EQ(CorrectedVideoBitRate(100000, 50000, 0, 400000), std::nullopt);
    EXPECT_EQ(CorrectedVideoBitRate(1000000, 100000, 90000, 400000), std::nullopt);

    // An earlier attempt on the other side: the rate where the line through both meets the
    // target (a step in proportion from 1.24 Mbit/s would give 1.06 Mbit/s, which missed).
    using mobivert::converter::TSizeAttempt;
    const TSizeAttempt under{1060000, 130000, 112000}, over{1240000, 173000, 155000};
    EXPECT_EQ(CorrectedVideoBitRate(150000, over, under), 1143721);
    // On the same side, or landed: as from the last attempt alone.
    const TSizeAttempt lower{1000000, 120000, 100000}, higher{1100000, 130000, 110000};
    EXPECT_EQ(CorrectedVideoBitRate(150000, higher, lower), 1300000);
    EXPECT_EQ(CorrectedVideoBitRate(150000, TSizeAttempt{1150000, 151000, 133000}, under),
              std::nullopt);
}

// Every preset that codes to a size lands within 5 % of it on a clip of two seconds, at the
// least size it accepts (the one its refusal of a smaller size names) and at a middle one;
// the output plays and no earlier attempt is left beside it.
TEST(TargetSizeTest, EveryPresetLandsAtItsLeastSizeAndAMiddleOne) {
    struct Target {
        const char* Preset;
        const char* Size; // empty: the least size
        const char* Output;
    };
    for (const Target& t :
         std::vector<Target>{{"22", "", "zone_plate_tone (MP4 H.264).mp4"},
                             {"23", "", "zone_plate_tone (MP4 H.265).mp4"},
                             {"23", "300kB", "zone_plate_tone (MP4 H.265).mp4"},
                             {"24", "", "zone_plate_tone (WebM VP9).webm"},
                             {"24", "150kB", "zone_plate_tone (WebM VP9).webm"},
                             {"25", "", "zone_plate_tone (WebM AV1).webm"},
                             {"25", "150kB", "zone_plate_tone (WebM AV1).webm"},
                             {"26", "", "zone_plate_tone (MKV H.264).mkv"},
                             {"26", "300kB", "zone_plate_tone (MKV H.264).mkv"}}) {
        std::string size = t.Size;
        std::string log;
        if (size.empty()) {
            TempDir probe;
            ConvertToSize(probe, t.Preset, "1kB", log);
            std::smatch least;
            ASSERT_TRUE(std::regex_search(log, least, std::regex("at least ([0-9]+) kB"))) << log;
            size = least[1].str() + "kB";
        }
        const auto bytes = static_cast<double>(*ParseTargetSize(size));
        TempDir dir;
        ASSERT_EQ(ConvertToSize(dir, t.Preset, size, log), 0) << log;
        std::vector<std::string> outputs;
        for (const auto& entry : std::filesystem::directory_iterator(dir.File("out")))
            outputs.push_back(entry.path().filename().string());
        ASSERT_EQ(outputs, std::vector<std::string>{t.Output}) << t.Preset << " " << size;
        const std::string out = dir.File("out/" + outputs.front());
        EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(out)) / bytes, 1.0, 0.05)
            << t.Preset << " " << size << "\n"
            << log;
        EXPECT_TRUE(mobivert::test::PlaysInGStreamer(out)) << out;
        EXPECT_FALSE(PassFoldersIn(dir.File("tmp"))) << log;
    }
}

TEST(TargetSizeTest, TooSmallAndMistypedSizesAreRefusedAtSetUp) {
    struct Refusal {
        const char* Preset;
        const char* Size;
        int Status;
        const char* Message;
    };
    for (const Refusal& r : std::vector<Refusal>{
             {"22", "20kB", 1,
              "Error found: the target size 20kB is too small for 0:02 of video: at least 48 kB "
              "is needed"},
             // SVT-AV1 at its speed codes this clip at no less than about 0.05 bit a pixel.
             {"25", "50kB", 1,
              "Error found: the target size 50kB is too small for 0:02 of video: at least 59 kB "
              "is needed"},
             {"22", "20xB", 2, "--target-size: The target size must be a size such as 25MB"},
             {"29", "1MB", 2, "--target-size applies only to the modern video presets"}}) {
        TempDir dir;
        std::string log;
        EXPECT_EQ(ConvertToSize(dir, r.Preset, r.Size, log), r.Status) << log;
        EXPECT_NE(log.find(r.Message), std::string::npos) << log;
        EXPECT_FALSE(std::filesystem::exists(dir.File("out/zone_plate_tone (MP4 H.264).mp4")));
    }
}

namespace {

using namespace mobivert::converter;

// A two-pass task of the clip read at its own pace (2 s a pass), with its progress recorded.
struct TwoPassRun {
    TAVConverter Converter;
    TempDir Dir;
    std::mutex Mutex;
    std::vector<std::pair<int, int>> Progress; // time, total (ms)
    std::atomic<bool> Ended{false};
    bool Finished = false;
    bool AtItsOwnPace = true; // the clip read as fast as it plays
    int64_t TargetSize = 0;
    bool TwoPass = true;

    void Start() {
        ASSERT_TRUE(Converter.LoadAVLib("", true)) << Converter.LastError();
        Converter.RunInWorkers = false;
        Converter.SetProgressInterval(50);
        Converter.OnProgress = [this](int, int, int, int time, float, float, int64_t, int total) {
            std::lock_guard lock(Mutex);
            Progress.emplace_back(time, total);
        };
        Converter.OnTerminate = [this](int index, bool finished, bool, const std::string&) {
            if (index >= 0)
                Finished = finished;
            else
                Ended = true;
        };
        TInputOptions input;
        input.ExtOptions = AtItsOwnPace ? "re" : "";
        const int index = Converter.AddInputFile(Fixture(CLIP), &input);
        ASSERT_GE(index, 0) << Converter.LastError();
        TOutputOptions output;
        output.VideoCodec = "libx264";
        output.AudioCodec = "aac";
        output.VideoBitRate = 1000000;
        output.TwoPass = TwoPass;
        output.TargetSize = TargetSize;
        ASSERT_TRUE(Converter.SetOutputFile(index, Output(), &output)) << Converter.LastError();
        Converter.StartConvert(1);
    }
    std::string Output() const { return Dir.File("out.mp4"); }
    // The share of the whole run reported last, 0..1.
    double Share() {
        std::lock_guard lock(Mutex);
        if (Progress.empty() || Progress.back().second <= 0)
            return 0;
        return static_cast<double>(Progress.back().first) / Progress.back().second;
    }
    size_t Reports() {
        std::lock_guard lock(Mutex);
        return Progress.size();
    }
    void WaitForShare(double share) {
        for (int i = 0; i < 600 && Share() < share && !Ended; ++i)
            std::this_thread::sleep_for(10ms);
    }
    bool WaitEnd() {
        for (int i = 0; i < 3000 && !Ended; ++i)
            std::this_thread::sleep_for(10ms);
        return Ended;
    }
};

} // namespace

TEST(TargetSizeTest, PauseHoldsEitherPassAndStopInTheFirstLeavesNothing) {
    {
        TwoPassRun run;
        ASSERT_NO_FATAL_FAILURE(run.Start());
        for (double share : {0.2, 0.7}) { // once in each pass
            run.WaitForShare(share);
            ASSERT_FALSE(run.Ended);
            run.Converter.PauseConvert();
            std::this_thread::sleep_for(200ms);
            const size_t reports = run.Reports();
            std::this_thread::sleep_for(600ms);
            EXPECT_EQ(run.Reports(), reports) << share;
            run.Converter.ResumeConvert();
        }
        ASSERT_TRUE(run.WaitEnd());
        EXPECT_TRUE(run.Finished);
        EXPECT_TRUE(mobivert::test::PlaysInGStreamer(run.Output()));
        // One progress over both passes: the total is both passes' length and the time
        // never goes back.
        std::lock_guard lock(run.Mutex);
        ASSERT_FALSE(run.Progress.empty());
        EXPECT_NEAR(run.Progress.front().second, 4000, 200);
        for (size_t i = 1; i < run.Progress.size(); ++i)
            EXPECT_GE(run.Progress[i].first, run.Progress[i - 1].first) << i;
        EXPECT_GT(run.Progress.back().first, 3500);
    }
    {
        TwoPassRun run;
        ASSERT_NO_FATAL_FAILURE(run.Start());
        run.WaitForShare(0.2);
        run.Converter.StopConvert();
        ASSERT_TRUE(run.WaitEnd());
        EXPECT_FALSE(run.Finished);
        EXPECT_LT(run.Share(), 0.5);
        EXPECT_FALSE(std::filesystem::exists(run.Output()) &&
                     std::filesystem::file_size(run.Output()) > 0);
    }
}

TEST(TargetSizeTest, AnOutputPassCodedAgainIsOnePassMoreOfTheSameProgress) {
    // 1 Mbit/s of video and the sound make about 290 kB of the clip: 400 kB is missed by far,
    // and the output pass (the second of two, or the only one) is coded again at a higher rate.
    for (const bool twoPass : {true, false}) {
        TwoPassRun run;
        run.AtItsOwnPace = false;
        run.TargetSize = 400000;
        run.TwoPass = twoPass;
        ASSERT_NO_FATAL_FAILURE(run.Start());
        ASSERT_TRUE(run.WaitEnd());
        EXPECT_TRUE(run.Finished);
        EXPECT_TRUE(mobivert::test::PlaysInGStreamer(run.Output()));
        EXPECT_NEAR(static_cast<double>(std::filesystem::file_size(run.Output())) / 400000, 1.0,
                    0.05)
            << twoPass;
        // The time done never goes back; the whole grew from its passes by the pass coded
        // again.
        const int passes = twoPass ? 2 : 1;
        std::lock_guard lock(run.Mutex);
        ASSERT_FALSE(run.Progress.empty());
        EXPECT_NEAR(run.Progress.front().second, 2000 * passes, 200) << twoPass;
        EXPECT_GE(run.Progress.back().second, 2000 * passes + 1800) << twoPass;
        for (size_t i = 1; i < run.Progress.size(); ++i)
            EXPECT_GE(run.Progress[i].first, run.Progress[i - 1].first) << i;
        EXPECT_GT(run.Progress.back().first, run.Progress.back().second - 500) << twoPass;
    }
}
