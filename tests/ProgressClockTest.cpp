// Speed, time left and the batch's figures from progress reports at given wall-clock times.

#include "app/shared/ProgressClock.h"

#include <gtest/gtest.h>

using namespace mobivert::app;

TEST(ProgressClockTest, FileSpeedAndTimeLeftAreMeasuredFromTheFirstReportWithoutPauses) {
    TFileClock clock;
    // The first report only starts the measurement; 0.3 s is needed before a speed.
    TFileFigures first = clock.Update(1000, 10000, 5000);
    EXPECT_EQ(first.Percent, 10);
    EXPECT_EQ(first.Speed, 0);
    EXPECT_EQ(first.LeftMs, -1);
    EXPECT_EQ(clock.Update(1400, 10000, 5250).Speed, 0);

    // 2 s of output in 1 s: twice real time, 7 s of output left take 3.5 s.
    TFileFigures running = clock.Update(3000, 10000, 6000);
    EXPECT_EQ(running.Percent, 30);
    EXPECT_DOUBLE_EQ(running.Speed, 2.0);
    EXPECT_EQ(running.LeftMs, 3500);
    EXPECT_EQ(FormatFileFigures(running), "2.0x, 0:03 left");

    // Ten seconds paused do not slow it down.
    clock.Pause(6000);
    clock.Pause(8000); // a second pause changes nothing
    clock.Resume(16000);
    clock.Resume(17000);
    TFileFigures resumed = clock.Update(5000, 10000, 17000);
    EXPECT_DOUBLE_EQ(resumed.Speed, 2.0);
    EXPECT_EQ(resumed.LeftMs, 2500);

    // Audio may run past its stated length; an unknown length gives a speed but no estimate.
    EXPECT_EQ(clock.Update(10200, 10000, 19600).Percent, 100);
    EXPECT_EQ(clock.Update(10200, 10000, 19600).LeftMs, 0);
    TFileFigures unknown = clock.Update(11200, -1, 20000);
    EXPECT_EQ(unknown.Percent, -1);
    EXPECT_GT(unknown.Speed, 0);
    EXPECT_EQ(unknown.LeftMs, -1);
    EXPECT_EQ(FormatFileFigures(unknown), "2.0x");
}

TEST(ProgressClockTest, BatchCountsEndedFilesAndRunningSharesAndLeavesPausesOut) {
    TBatchClock batch;
    batch.Start(4, 1000);
    TBatchFigures start = batch.Figures(1000);
    EXPECT_EQ(start.Done, 0);
    EXPECT_EQ(start.Total, 4);
    EXPECT_EQ(start.Percent, 0);
    EXPECT_EQ(start.LeftMs, -1);

    batch.FileProgress(0, 1.0);
    batch.FileEnded(0);
    batch.FileProgress(1, 0.5);
    batch.FileProgress(2, 1.7); // held at the whole file
    batch.FileEnded(2);
    batch.FileProgress(3, 0.5);
    // 3 of 4 files' worth in 6 s: 2 s more.
    TBatchFigures figures = batch.Figures(7000);
    EXPECT_EQ(figures.Done, 2);
    EXPECT_EQ(figures.Percent, 75);
    EXPECT_EQ(figures.ElapsedMs, 6000);
    EXPECT_EQ(figures.LeftMs, 2000);

    batch.Pause(7000);
    EXPECT_EQ(batch.Figures(60000).ElapsedMs, 6000);
    batch.Resume(60000);
    EXPECT_EQ(batch.Figures(61000).ElapsedMs, 7000);

    batch.FileEnded(1);
    batch.FileEnded(3);
    batch.FileEnded(3); // more ends than files (a late report) stay at the total
    TBatchFigures end = batch.Figures(61000);
    EXPECT_EQ(end.Done, 4);
    EXPECT_EQ(end.Percent, 100);
    EXPECT_EQ(end.LeftMs, 0);
}

TEST(ProgressClockTest, ClocksAndSpeedsReadAsPeopleWriteThem) {
    EXPECT_EQ(FormatClock(-5), "0:00");
    EXPECT_EQ(FormatClock(7999), "0:07");
    EXPECT_EQ(FormatClock(750000), "12:30");
    EXPECT_EQ(FormatClock(3723000), "1:02:03");
    EXPECT_EQ(FormatSpeed(0.44), "0.4x");
    EXPECT_EQ(FormatSpeed(2.5), "2.5x");
    EXPECT_EQ(FormatSpeed(12.4), "12x");
    EXPECT_EQ(FormatFileFigures(TFileFigures{}), "");
}

TEST(ProgressClockTest, BatchWeighsFilesByTheirWorkSoThatOneLongFileIsNotOneFileInSeven) {
    // Six 5 s files done and one 60 s file at 54 %: 62.4 s of 90 s, not 6.54 of 7 files.
    TBatchClock batch;
    batch.Start(7, 0);
    for (int key = 0; key < 6; ++key) {
        batch.SetWeight(key, 5000);
        batch.FileEnded(key);
    }
    batch.SetWeight(6, 60000);
    batch.FileProgress(6, 0.54);
    TBatchFigures figures = batch.Figures(62400);
    EXPECT_EQ(figures.Done, 6);
    EXPECT_EQ(figures.Percent, 69);
    // The rest, 27.6 s of work, at the batch's pace of one second per second.
    EXPECT_EQ(figures.LeftMs, 27600);

    // A file without a weight of its own counts as the average of the others.
    TBatchClock mixed;
    mixed.Start(3, 0);
    mixed.SetWeight(0, 1000);
    mixed.SetWeight(1, 3000);
    mixed.FileEnded(2);
    EXPECT_EQ(mixed.Figures(1000).Percent, 33);
    mixed.SetWeight(2, 0); // no weight is no weight
    EXPECT_EQ(mixed.Figures(1000).Percent, 33);
}

TEST(ProgressClockTest, WorkWeightsAreLengthsWithBytesStandingInForUnknownOnes) {
    // 10 s in 1000 bytes: a file of unknown length with 500 bytes weighs 5 s; one with
    // neither weighs the average of the others.
    const std::vector<double> weights = WorkWeights({{10000, 1000}, {-1, 500}, {2000, 0}, {-1, 0}});
    ASSERT_EQ(weights.size(), 4u);
    EXPECT_DOUBLE_EQ(weights[0], 10000);
    EXPECT_DOUBLE_EQ(weights[1], 5000);
    EXPECT_DOUBLE_EQ(weights[2], 2000);
    EXPECT_DOUBLE_EQ(weights[3], (10000 + 5000 + 2000) / 3.0);
    // No length known anywhere: the bytes alone; nothing known at all: every file the same.
    EXPECT_EQ(WorkWeights({{-1, 300}, {-1, 100}}), (std::vector<double>{300, 100}));
    EXPECT_EQ(WorkWeights({{-1, 0}, {-1, 0}}), (std::vector<double>{1, 1}));
}
