// Sources whose timestamps start or jump hours away from the rest of the file (written that way
// by GStreamer's muxers, or damaged by one flipped bit): with the DivX and AVI presets the
// outputs last what the sources last and the progress stays within its total; a run that
// still runs away ends as a failure instead of writing on.

#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "binding/AVLibs.h"
#include "support/ConverterEvents.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace mobivert::app;
using namespace mobivert::test;
using mobivert::converter::TAVConverter;
using testing::HasSubstr;
using namespace std::chrono_literals;

namespace {

struct DamagedSource {
    const char* Name;
    double Seconds;       // the source's own length
    const char* Rebasing; // what the log says of the damage
};

const DamagedSource kDamaged[] = {
    // asfmux took the video encoder's timestamps 1000 h after the audio's.
    {"wmv2_wma_video_1000h_late.asf", 5.0, "starts 3600000.000 s away from its file"},
    // One cluster 37 h away, the next one back in place.
    {"h264_cluster_time_flipped.mkv", 4.0, "beyond the length of its file"},
    // Every cluster from the third on 37 h away.
    {"h264_cluster_time_jump.mkv", 4.0, "beyond the length of its file"},
};

struct Conversion {
    bool Done = false;
    std::string Error;
    std::string Output;
    std::vector<std::pair<int, int>> Progress; // current and total milliseconds
    std::string Log;
};

class RunawayOutputTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        ASSERT_TRUE(driver.LoadLibraries(""));
        converter.SetLogLevel(mobivert::converter::llDebug);
        converter.SetProgressInterval(100);
        events.Attach(converter);
    }

    // One source through the driver and the converter with a preset, as the window does it.
    Conversion Convert(const std::string& presetText, const std::string& source) {
        events.Clear();
        TBatchSettings settings;
        settings.PresetText = presetText;
        settings.OutputFolder = out.Path().string();
        std::vector<TBatchSource> sources(1);
        sources[0].Path = source;
        driver.LoadSources(sources, settings);
        if (driver.ConfigureOutputs(sources, settings) != 1) {
            ADD_FAILURE() << sources[0].Error;
            return {};
        }
        converter.StartConvert(1);
        EXPECT_TRUE(events.WaitBatchEnd(120s)) << "the conversion of " << source << " did not end";
        converter.ClearTasks();
        Conversion result;
        for (const TerminateRecord& end : events.TaskEnds()) {
            result.Done = end.Finished && !end.Exception;
            result.Error = end.Message;
        }
        for (const ProgressReport& report : events.ProgressReports())
            result.Progress.emplace_back(report.CurrentMs, report.TotalMs);
        for (const LogRecord& line : events.LogLines())
            result.Log += line.Text + "\n";
        result.Output = sources[0].OutputPath;
        return result;
    }

    TempDir out;
    TAVConverter converter;
    TConversionDriver driver{converter};
    ConverterEvents events;
};

// Seconds from GStreamer's discoverer, which shares no code with the engine; -1 when unknown.
double DiscoveredSeconds(const std::string& path) {
    std::string text = Discover(path);
    size_t at = text.find("Duration: ");
    int h = 0, m = 0;
    double s = 0;
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "Duration: %d:%d:%lf", &h, &m, &s) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

TEST_F(RunawayOutputTest, DamagedSourcesConvertToTheirOwnLength) {
    for (const char* preset : {"DivX Video (*.avi)", "AVI Video (*.avi)"}) {
        for (const DamagedSource& source : kDamaged) {
            SCOPED_TRACE(std::string(preset) + " from " + source.Name);
            Conversion c = Convert(preset, Fixture(source.Name));
            ASSERT_TRUE(c.Done) << c.Error;
            EXPECT_THAT(c.Log, HasSubstr(source.Rebasing));
            EXPECT_NEAR(DiscoveredSeconds(c.Output), source.Seconds, 0.5);
            StreamSummary video = ReadFirstStream(c.Output, AVMEDIA_TYPE_VIDEO);
            EXPECT_NEAR(video.Packets, source.Seconds * 25, 10);
            // The total is the source's own length, not the span its stray stream claims,
            // and no report passes it.
            ASSERT_FALSE(c.Progress.empty());
            for (auto [current, total] : c.Progress) {
                EXPECT_NEAR(total, source.Seconds * 1000, 100);
                EXPECT_LE(current, total);
            }
            std::filesystem::remove(c.Output);
        }
    }
}

TEST_F(RunawayOutputTest, ProgressOfASourceLongerThanItsEstimateStaysWithinItsTotal) {
    // The estimate from the first frames' bit rate says about 1.6 s; the output lasts 2 s.
    Conversion c = Convert("MP3 MPEG Layer-3 (*.mp3)", Fixture("vbr_no_header.mp3"));
    ASSERT_TRUE(c.Done) << c.Error;
    EXPECT_NEAR(DiscoveredSeconds(c.Output), 2.05, 0.1);
    ASSERT_FALSE(c.Progress.empty());
    int total = c.Progress.back().second;
    EXPECT_LT(total, 1900) << "the source no longer underestimates its length";
    for (auto [current, reportedTotal] : c.Progress) {
        EXPECT_EQ(reportedTotal, total);
        EXPECT_LE(current, total);
    }
    EXPECT_EQ(c.Progress.back().first, total);
}

TEST(RunawayGuard, RunThatStillRunsAwayEndsAsFailure) {
    // With the discontinuity threshold out of reach nothing is re-based, so each source makes
    // its first or its jumped picture repeat far past the end: the guard ends the run at twice
    // the source's length plus ten seconds.
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    TempDir dir;
    for (const DamagedSource& source : kDamaged) {
        SCOPED_TRACE(source.Name);
        EngineRun run;
        ASSERT_TRUE(run.AddInput(Fixture(source.Name), "dts_delta_threshold=10000000"))
            << run.Error();
        std::string out = dir.File(std::string(source.Name) + ".avi");
        ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nacodec=libmp3lame")) << run.Error();
        run.Run();
        EXPECT_TRUE(run.Failed());
        char lasts[64];
        std::snprintf(lasts, sizeof lasts, "while the source lasts %.1f s", source.Seconds);
        EXPECT_THAT(run.Error(), HasSubstr(lasts));
        EXPECT_THAT(run.Error(), HasSubstr("the source's timestamps are damaged"));
        EXPECT_FALSE(run.Session.Finished);
        // Written up to the limit, not on and on.
        EXPECT_LT(std::filesystem::file_size(out), 4u << 20);
    }
}

TEST(RunawayGuard, OffsetInputIsNotRunaway) {
    // An offset asks for a later output: 30 s of offset on a 2 s clip is no runaway.
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    TempDir dir;
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("fps15.mp4"), "itsoffset=30")) << run.Error();
    std::string out = dir.File("offset.avi");
    ASSERT_TRUE(run.SetOutput(out, "vcodec=mpeg4\nr=15")) << run.Error();
    run.Run();
    ASSERT_FALSE(run.Failed()) << run.Error();
    EXPECT_NEAR(ReadFirstStream(out, AVMEDIA_TYPE_VIDEO).Packets, 32 * 15, 15);
}

} // namespace
