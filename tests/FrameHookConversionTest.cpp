// Frame hooks in whole conversions: which pictures the plug-ins get (every one, the time ranges,
// the before-hook answer), what the example plug-in and the custom hook change in the decoded
// output, the custom hook's failures and stop, and the component's connection of both events.
// Outputs are lossless (FFV1, raw video), so unchanged pixels can be compared exactly.

#include "binding/AVLibs.h"
#include "converter/AVConverter.h"
#include "support/ConverterEvents.h"
#include "support/EngineRun.h"
#include "support/HookFiles.h"
#include "support/LibrariesTest.h"
#include "support/PictureReader.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace mobivert::engine;
using namespace mobivert::test;
using testing::HasSubstr;

namespace {

// BT.601 studio-range red, as the example plug-in paints it.
constexpr int RedY = 82, RedU = 90, RedV = 240;

constexpr const char* Lossless = "an\nvcodec=ffv1";

struct Box {
    int X, Y, W, H;
    bool Contains(int x, int y) const { return x >= X && x < X + W && y >= Y && y < Y + H; }
};

// Counts the pixels that differ from the reference picture, inside and outside the box.
void Compare(const Picture& actual, const Picture& reference, const Box& box, int tolerance,
             int& inside, int& outside) {
    inside = outside = 0;
    for (int y = 0; y < actual.Height; ++y)
        for (int x = 0; x < actual.Width; ++x) {
            bool differs = std::abs(actual.LumaAt(x, y) - reference.LumaAt(x, y)) > tolerance;
            if (x % 2 == 0 && y % 2 == 0)
                differs = differs || std::abs(actual.UAt(x, y) - reference.UAt(x, y)) > tolerance ||
                          std::abs(actual.VAt(x, y) - reference.VAt(x, y)) > tolerance;
            (box.Contains(x, y) ? inside : outside) += differs ? 1 : 0;
        }
}

bool IsRed(const Picture& picture, const Box& box, int tolerance) {
    for (int y = box.Y; y < box.Y + box.H; ++y)
        for (int x = box.X; x < box.X + box.W; ++x)
            if (std::abs(picture.LumaAt(x, y) - RedY) > tolerance ||
                std::abs(picture.UAt(x, y) - RedU) > tolerance ||
                std::abs(picture.VAt(x, y) - RedV) > tolerance)
                return false;
    return true;
}

class FrameHookConversionTest : public mobivert::test::LibrariesTest {
protected:
    // Sets up a conversion; the caller connects events and runs it.
    std::unique_ptr<EngineRun> Prepare(const std::string& input, const std::string& output,
                                       const std::string& options,
                                       const std::string& inputOptions = "") {
        auto run = std::make_unique<EngineRun>();
        EXPECT_TRUE(run->AddInput(input, inputOptions)) << run->Error();
        EXPECT_TRUE(run->SetOutput(output, options)) << run->Error();
        return run;
    }

    // The fixture converted without any hook, decoded.
    const DecodedVideo& Reference() {
        static DecodedVideo reference;
        if (reference.Pictures.empty()) {
            auto run = Prepare(Fixture("h264_aac.mp4"), dir.File("reference.mkv"), Lossless);
            run->Run();
            EXPECT_FALSE(run->Failed()) << run->Error();
            reference = DecodeVideo(dir.File("reference.mkv"));
        }
        return reference;
    }

    TempDir dir;
};

TEST_F(FrameHookConversionTest, ExamplePluginPaintsExactlyItsBox) {
    const Box box{64, 32, 96, 64};
    std::string out = dir.File("box.mkv");
    auto run = Prepare(Fixture("h264_aac.mp4"), out,
                       std::string(Lossless) + "\nvhook=" + ExampleHook() +
                           " x=64 y=32 width=96 height=64 color=ff0000");
    run->Run();
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(run->Session.HookFrameNumber, 50);

    DecodedVideo decoded = DecodeVideo(out);
    const DecodedVideo& reference = Reference();
    ASSERT_EQ(decoded.Pictures.size(), 50u);
    ASSERT_EQ(reference.Pictures.size(), 50u);
    for (size_t i = 0; i < decoded.Pictures.size(); ++i) {
        int inside = 0, outside = 0;
        Compare(decoded.Pictures[i], reference.Pictures[i], box, 0, inside, outside);
        EXPECT_EQ(outside, 0) << "picture " << i;
        EXPECT_GT(inside, 0) << "picture " << i;
        EXPECT_TRUE(IsRed(decoded.Pictures[i], box, 0)) << "picture " << i;
    }
}

TEST_F(FrameHookConversionTest, EmptyRangesHookEveryPictureAndRangesOnlyThoseWithin) {
    // Timestamps stretched four times: 75 pictures 160 ms apart, up to about 12 s.
    const std::string stretch = "itsscale=0:4\nitsscale=1:4";
    std::string all = dir.File("all.txt");
    auto every =
        Prepare(Fixture("sample.mp4"), dir.File("every.mkv"),
                "an\nvsync=0\nvcodec=ffv1\nvhook=" + TestHook("RecordHook") + " " + all, stretch);
    every->Session.SetHookTimeRanges({});
    every->Run();
    ASSERT_FALSE(every->Failed()) << every->Error();
    std::vector<int64_t> allTimes = RecordedTimes(all);
    ASSERT_EQ(allTimes.size(), 75u);
    ASSERT_GT(allTimes.back(), 11000000);

    std::string some = dir.File("some.txt");
    std::string out = dir.File("ranges.mkv");
    auto ranged = Prepare(Fixture("sample.mp4"), out,
                          "an\nvsync=0\nvcodec=ffv1\nvhook=" + TestHook("RecordHook") + " " + some +
                              "\nvhook=" + ExampleHook() + " x=0 y=0 width=16 height=16",
                          stretch);
    // Given out of order: they are sorted by their end.
    ranged->Session.SetHookTimeRanges({{5000000, 6000000}, {1000000, 2000000}});
    ranged->Run();
    ASSERT_FALSE(ranged->Failed()) << ranged->Error();

    std::vector<int64_t> expected;
    for (int64_t t : allTimes)
        if ((t >= 1000000 && t <= 2000000) || (t >= 5000000 && t <= 6000000))
            expected.push_back(t);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(RecordedTimes(some), expected);
    // Past the last range hooking stopped for the rest of the run.
    EXPECT_EQ(ranged->Session.HookAction, haStop);
    EXPECT_EQ(ranged->Session.HookRangeIndex, 1);

    // The pictures that were hooked carry the box in the output; the others do not.
    DecodedVideo decoded = DecodeVideo(out);
    ASSERT_EQ(decoded.Pictures.size(), allTimes.size());
    size_t boxed = 0;
    for (size_t i = 0; i < decoded.Pictures.size(); ++i) {
        bool red = IsRed(decoded.Pictures[i], {0, 0, 16, 16}, 0);
        bool hooked = std::find(expected.begin(), expected.end(), allTimes[i]) != expected.end();
        EXPECT_EQ(red, hooked) << "picture " << i << " at " << allTimes[i];
        boxed += red ? 1 : 0;
    }
    EXPECT_EQ(boxed, expected.size());
}

TEST_F(FrameHookConversionTest, BeforeHookIgnoringEveryPictureIsAskedForEach) {
    std::string calls = dir.File("calls.txt");
    std::string out = dir.File("ignored.mkv");
    auto run = Prepare(Fixture("h264_aac.mp4"), out,
                       std::string(Lossless) + "\nvhook=" + TestHook("RecordHook") + " " + calls +
                           "\nvhook=" + ExampleHook() + " width=200 height=200");
    // Ranges are not consulted while the before-hook event is connected.
    run->Session.SetHookTimeRanges({{0, 100000000}});
    std::vector<int64_t> asked;
    run->Session.OnBeforeHook = [&asked](TCustomFFmpeg&, THookAction& action, int64_t pts) {
        asked.push_back(pts);
        action = haIgnore;
    };
    run->Run();
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(asked.size(), 50u);
    EXPECT_TRUE(RecordedTimes(calls).empty());

    DecodedVideo decoded = DecodeVideo(out);
    const DecodedVideo& reference = Reference();
    ASSERT_EQ(decoded.Pictures.size(), reference.Pictures.size());
    for (size_t i = 0; i < decoded.Pictures.size(); ++i) {
        int inside = 0, outside = 0;
        Compare(decoded.Pictures[i], reference.Pictures[i], {0, 0, 0, 0}, 0, inside, outside);
        EXPECT_EQ(outside, 0) << "picture " << i;
    }
}

TEST_F(FrameHookConversionTest, BeforeHookAnswerCarriesOverAndAnExceptionStopsHooking) {
    std::string calls = dir.File("calls.txt");
    auto run = Prepare(Fixture("h264_aac.mp4"), dir.File("carried.mkv"),
                       std::string(Lossless) + "\nvhook=" + TestHook("RecordHook") + " " + calls);
    std::vector<int> seen;
    std::vector<int64_t> times;
    run->Session.OnBeforeHook = [&](TCustomFFmpeg&, THookAction& action, int64_t pts) {
        seen.push_back(action);
        times.push_back(pts);
        size_t n = seen.size();
        if (n == 3)
            action = haIgnore; // kept for the next pictures until changed
        else if (n == 6)
            action = haContinue;
        else if (n == 8)
            throw std::runtime_error("handler failed");
    };
    run->Run();
    ASSERT_FALSE(run->Failed()) << run->Error();
    // Asked until it failed, then never again; the conversion went on.
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(seen, (std::vector<int>{haContinue, haContinue, haContinue, haIgnore, haIgnore,
                                      haIgnore, haContinue, haContinue}));
    EXPECT_TRUE(run->Logged("Error occurs OnBeforeHook: handler failed"));
    EXPECT_EQ(run->Session.HookFrameNumber, 50);
    // Hooked: pictures 1, 2, then 6 and 7 (the answer given for picture 6).
    EXPECT_EQ(RecordedTimes(calls), (std::vector<int64_t>{times[0], times[1], times[5], times[6]}));
    EXPECT_EQ(DecodeVideo(dir.File("carried.mkv")).Pictures.size(), 50u);
}

TEST_F(FrameHookConversionTest, CustomHookDrawingGoesIntoThePicture) {
    const Box square{32, 48, 64, 64};
    std::string out = dir.File("square.mkv");
    auto run = Prepare(Fixture("h264_aac.mp4"), out, Lossless);
    std::vector<int32_t> numbers;
    int64_t lastPts = -1;
    bool ordered = true;
    run->Session.OnCustomHook = [&](TCustomFFmpeg& engine, TBitmap* bitmap, int32_t number,
                                    int64_t pts, bool& update, bool& stop) {
        EXPECT_TRUE(update);
        EXPECT_FALSE(stop);
        EXPECT_EQ(bitmap->Width(), 640);
        EXPECT_EQ(bitmap->Height(), 480);
        // The canvas is locked while the handler runs.
        std::thread other([&] {
            bool taken = bitmap->Canvas().TryLock();
            if (taken)
                bitmap->Canvas().Unlock();
            EXPECT_FALSE(taken);
        });
        other.join();
        EXPECT_NE(engine.ToRgbContext, nullptr);
        ordered = ordered && pts > lastPts;
        lastPts = pts;
        numbers.push_back(number);
        if (number == 3)
            throw std::runtime_error("cannot draw");
        bitmap->Canvas().FillRect(square.X, square.Y, square.X + square.W, square.Y + square.H, 255,
                                  0, 0);
    };
    run->Run();
    ASSERT_FALSE(run->Failed()) << run->Error();
    ASSERT_EQ(numbers.size(), 50u);
    for (size_t i = 0; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], static_cast<int32_t>(i + 1));
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(run->Logged("Error occurs OnCustomHook: cannot draw"));

    DecodedVideo decoded = DecodeVideo(out);
    const DecodedVideo& reference = Reference();
    ASSERT_EQ(decoded.Pictures.size(), 50u);
    for (size_t i = 0; i < decoded.Pictures.size(); ++i) {
        int inside = 0, outside = 0;
        // The round trip through RGB is lossy by a few levels.
        Compare(decoded.Pictures[i], reference.Pictures[i], square, 6, inside, outside);
        EXPECT_LT(outside, 640 * 480 / 100) << "picture " << i;
        if (i == 2) {
            // The handler failed: that picture was not written back.
            Compare(decoded.Pictures[i], reference.Pictures[i], square, 0, inside, outside);
            EXPECT_EQ(inside + outside, 0);
        } else {
            EXPECT_TRUE(IsRed(decoded.Pictures[i], square, 3)) << "picture " << i;
        }
    }
}

TEST_F(FrameHookConversionTest, RgbPicturesNeedNoConversionContext) {
    // A raw BGR24 source, made from the fixture.
    std::string source = dir.File("bgr.avi");
    auto make =
        Prepare(Fixture("h264_aac.mp4"), source, "an\nvframes=5\nvcodec=rawvideo\npix_fmt=bgr24");
    make->Run();
    ASSERT_FALSE(make->Failed()) << make->Error();

    const Box square{10, 20, 30, 40};
    std::string copied = dir.File("copied.avi");
    auto plain = Prepare(source, copied, "vcodec=rawvideo\npix_fmt=bgr24");
    plain->Run();
    std::string out = dir.File("drawn.avi");
    auto run = Prepare(source, out, "vcodec=rawvideo\npix_fmt=bgr24");
    int calls = 0;
    run->Session.OnCustomHook = [&](TCustomFFmpeg& engine, TBitmap* bitmap, int32_t, int64_t, bool&,
                                    bool&) {
        ++calls;
        EXPECT_EQ(engine.ToRgbContext, nullptr);
        EXPECT_EQ(engine.FromRgbContext, nullptr);
        bitmap->Canvas().FillRect(square.X, square.Y, square.X + square.W, square.Y + square.H, 255,
                                  0, 0);
    };
    run->Run();
    ASSERT_FALSE(run->Failed()) << run->Error();
    EXPECT_EQ(calls, 5);
    DecodedVideo drawn = DecodeVideo(out);
    DecodedVideo reference = DecodeVideo(copied);
    ASSERT_EQ(drawn.Pictures.size(), 5u);
    ASSERT_EQ(reference.Pictures.size(), 5u);
    for (size_t i = 0; i < drawn.Pictures.size(); ++i) {
        int inside = 0, outside = 0;
        Compare(drawn.Pictures[i], reference.Pictures[i], square, 0, inside, outside);
        EXPECT_EQ(outside, 0);
        EXPECT_GT(inside, 0);
        // Only the reader's conversion to YUV for the check rounds here.
        EXPECT_TRUE(IsRed(drawn.Pictures[i], {square.X + 2, square.Y + 2, 26, 36}, 2));
    }
}

TEST_F(FrameHookConversionTest, CopiedVideoRefusesPlugins) {
    auto run = Prepare(Fixture("h264_aac.mp4"), dir.File("copy.mkv"),
                       "vcodec=copy\nacodec=copy\nvhook=" + ExampleHook());
    run->Run();
    EXPECT_TRUE(run->Failed());
    EXPECT_EQ(run->Error(), "-vcodec copy and -vhook are incompatible (frames are not decoded)");
}

// The component connects one mechanism per task and passes the task's index and the answers.
class FrameHookComponentTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastError();
        events.Attach(converter, {.Logs = false, .Progress = false});
    }

    int AddTask(const std::string& output, const mobivert::converter::TOutputOptions& options,
                const std::string& inputOptions = "") {
        mobivert::converter::TInputOptions input;
        input.ExtOptions = inputOptions;
        int index = converter.AddInputFile(Fixture("h264_aac.mp4"), &input);
        EXPECT_GE(index, 0) << converter.LastError();
        EXPECT_TRUE(converter.SetOutputFile(index, dir.File(output), &options))
            << converter.LastError();
        return index;
    }

    void RunBatch() {
        converter.StartConvert(1);
        ASSERT_TRUE(events.WaitBatchEnd(std::chrono::seconds(120)));
        std::vector<std::string> errors;
        for (const TerminateRecord& end : events.TaskEnds())
            if (end.Exception)
                errors.push_back(end.Message);
        EXPECT_TRUE(errors.empty()) << errors.front();
    }

    TempDir dir;
    mobivert::converter::TAVConverter converter;
    ConverterEvents events;
};

TEST_F(FrameHookComponentTest, EachTaskGetsItsOwnMechanism) {
    using mobivert::converter::TOutputOptions;
    // Task 0: the before-hook event, which ignores every picture.
    std::string ignoredCalls = dir.File("ignored.txt");
    TOutputOptions before;
    before.ExtOptions =
        std::string(Lossless) + "\nvhook=" + TestHook("RecordHook") + " " + ignoredCalls;
    before.BeforeHook = true;
    before.HookRanges = "0-100000";
    ASSERT_EQ(AddTask("before.mkv", before), 0);

    // Task 1: the custom hook (it wins over the before-hook flag), which stops on picture 2.
    TOutputOptions custom;
    custom.ExtOptions = Lossless;
    custom.CustomHook = true;
    custom.BeforeHook = true;
    ASSERT_EQ(AddTask("custom.mkv", custom), 1);

    // Task 2: time ranges from their text; timestamps stretched to 4 s. Only (-1 ms, 2000 ms)
    // is kept from this text.
    std::string rangeCalls = dir.File("ranges.txt");
    TOutputOptions ranges;
    ranges.ExtOptions =
        std::string(Lossless) + "\nvhook=" + TestHook("RecordHook") + " " + rangeCalls;
    ranges.HookRanges = "5000-1000, abc-2000";
    ASSERT_EQ(AddTask("ranges.mkv", ranges, "itsscale=0:2\nitsscale=1:2"), 2);

    std::vector<int> beforeIndexes, customIndexes, numbers;
    converter.OnBeforeHook = [&](int task, int64_t, THookAction& action) {
        beforeIndexes.push_back(task);
        action = haIgnore;
    };
    converter.OnCustomHook = [&](int task, TBitmap* bitmap, int number, int64_t, bool& update,
                                 bool& stop) {
        customIndexes.push_back(task);
        numbers.push_back(number);
        bitmap->Canvas().FillRect(0, 0, 64, 64, 255, 0, 0);
        update = true;
        stop = number == 2;
    };
    RunBatch();

    EXPECT_EQ(beforeIndexes, std::vector<int>(50, 0));
    EXPECT_TRUE(RecordedTimes(ignoredCalls).empty());

    // Asked for two pictures; the second one's drawing still went into the output.
    EXPECT_EQ(numbers, (std::vector<int>{1, 2}));
    EXPECT_EQ(customIndexes, (std::vector<int>{1, 1}));
    DecodedVideo decoded = DecodeVideo(dir.File("custom.mkv"));
    ASSERT_EQ(decoded.Pictures.size(), 50u);
    EXPECT_TRUE(IsRed(decoded.Pictures[1], {0, 0, 64, 64}, 3));
    EXPECT_FALSE(IsRed(decoded.Pictures[2], {0, 0, 64, 64}, 3));

    std::vector<int64_t> hooked = RecordedTimes(rangeCalls);
    ASSERT_FALSE(hooked.empty());
    EXPECT_EQ(hooked.front(), 0);
    EXPECT_EQ(hooked.back(), 2000000);
    EXPECT_EQ(hooked.size(), 26u); // every 80 ms from 0 to 2 s
}

} // namespace
