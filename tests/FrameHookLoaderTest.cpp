// Frame-hook plug-ins as the "vhook" option loads them: splitting the option into words, the
// entry points a library must have, the loader's refusals with their log lines, the library
// cache and the plug-in's own folder; and the bitmap the custom hook draws on.

#include "binding/AVLibs.h"
#include "converter/AVConverter.h"
#include "engine/hooks/FrameHookLibrary.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/HookFiles.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <thread>

using namespace mobivert::engine;
using namespace mobivert::test;
using testing::ElementsAre;
using testing::HasSubstr;

namespace fs = std::filesystem;

namespace {

class FrameHookLoaderTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
    }

    // Applies one "vhook" option; the refusal text, or "" when it was accepted.
    std::string AddHook(const std::string& value) {
        try {
            session.ApplyOptionText("vhook=" + value);
            return "";
        } catch (const FFMpegException& e) {
            return e.what();
        }
    }

    std::string Copy(const std::string& from, const std::string& name) {
        fs::path target = dir.Path() / name;
        fs::create_directories(target.parent_path());
        fs::copy_file(from, target);
        return target.string();
    }

    TempDir dir;
    TCustomFFmpeg session;
};

TEST_F(FrameHookLoaderTest, WordsAreSplitAtBarsWhenThereIsOneElseAtBlanks) {
    // A path with a blank works only with "|" between the words.
    std::string hook = Copy(TestHook("RecordHook"), "with blank/libRecord hook.so");
    std::string words = dir.File("words.txt");
    ASSERT_EQ(AddHook(hook + "|" + words + "|second word"), "");
    EXPECT_TRUE(session.UsingVhook);
    EXPECT_THAT(ReadLines(words), ElementsAre("argc 3", "word " + hook, "word " + words,
                                              "word second word", "last null"));

    // Blanks: runs of them count as one separator.
    std::string blanks = dir.File("blanks.txt");
    ASSERT_EQ(AddHook(TestHook("RecordHook") + "  " + blanks + " a   b"), "");
    EXPECT_THAT(ReadLines(blanks), ElementsAre("argc 4", "word " + TestHook("RecordHook"),
                                               "word " + blanks, "word a", "word b", "last null"));

    // Both plug-ins are released, in order, when the session is freed.
    session.FreeSession();
    EXPECT_EQ(ReadLines(words).back(), "release");
    EXPECT_EQ(ReadLines(blanks).back(), "release");
    EXPECT_FALSE(session.UsingVhook);
}

TEST_F(FrameHookLoaderTest, AtMostSixtyThreeWordsArePassed) {
    std::string words = dir.File("many.txt");
    std::string value = TestHook("RecordHook") + " " + words;
    for (int i = 2; i < 70; ++i)
        value += " w" + std::to_string(i);
    ASSERT_EQ(AddHook(value), "");
    std::vector<std::string> lines = ReadLines(words);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "argc 63");
    EXPECT_EQ(lines[63], "word w62");
    EXPECT_EQ(lines[64], "last null");
}

TEST_F(FrameHookLoaderTest, ResultCodesOfTheLoader) {
    FrameHookEntry* first = nullptr;
    auto add = [&first](std::vector<std::string> words) {
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        return AddFrameHook(&first, static_cast<int>(words.size()), argv.data());
    };
    EXPECT_EQ(add({}), HOOK_NO_ENTRY);
    // Without Configure: accepted alone, refused with arguments.
    EXPECT_EQ(add({TestHook("NoConfigureHook")}), HOOK_ADDED);
    EXPECT_EQ(add({TestHook("NoConfigureHook"), "x=1"}), HOOK_NO_ENTRY);
    EXPECT_EQ(add({TestHook("NoProcessHook")}), HOOK_NO_ENTRY);
    EXPECT_EQ(add({TestHook("WrongNamesHook")}), HOOK_NO_ENTRY);
    EXPECT_EQ(add({ExampleHook(), "bogus=1"}), HOOK_CONFIGURE_FAILED);
    EXPECT_EQ(add({ExampleHook(), "width=abc"}), HOOK_CONFIGURE_FAILED);
    EXPECT_EQ(add({dir.File("missing.so")}), HOOK_NOT_LOADABLE);
    std::ofstream(dir.File("text.so")) << "not a library\n";
    EXPECT_EQ(add({dir.File("text.so")}), HOOK_NOT_LOADABLE);
    EXPECT_EQ(add({ExampleHook(), "x=8", "width=16"}), HOOK_ADDED);

    // Only the accepted ones are in the list, in the order they were added.
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->Next, nullptr);
    EXPECT_EQ(first->Next->Next, nullptr);
    EXPECT_EQ(first->Configure, nullptr);
    EXPECT_NE(first->Next->Configure, nullptr);
    EXPECT_NE(first->Next->Context, nullptr);
    ReleaseFrameHooks(&first);
    EXPECT_EQ(first, nullptr);
}

TEST_F(FrameHookLoaderTest, LibrariesAreCachedByTheirExactPath) {
    std::string error;
    void* once = LoadHookLibrary(TestHook("RecordHook"), error);
    ASSERT_NE(once, nullptr) << error;
    EXPECT_EQ(LoadHookLibrary(TestHook("RecordHook"), error), once);

    // Two files whose names differ only in case are two libraries.
    std::string lower = Copy(TestHook("NoConfigureHook"), "case/hook.so");
    std::string upper = Copy(TestHook("RecordHook"), "case/HOOK.so");
    ASSERT_EQ(AddHook(lower), "");
    std::string words = dir.File("upper.txt");
    EXPECT_EQ(AddHook(upper + " " + words), "");
    EXPECT_EQ(ReadLines(words).at(0), "argc 2");

    // One library named twice is configured twice, with a context each.
    std::string first = dir.File("first.txt");
    std::string second = dir.File("second.txt");
    ASSERT_EQ(AddHook(TestHook("RecordHook") + " " + first), "");
    ASSERT_EQ(AddHook(TestHook("RecordHook") + " " + second), "");
    session.FreeSession();
    EXPECT_EQ(ReadLines(first).back(), "release");
    EXPECT_EQ(ReadLines(second).back(), "release");
}

TEST_F(FrameHookLoaderTest, DependenciesAreFoundInThePluginsOwnFolder) {
    // The plug-in has no run path: the system loader alone cannot find its helper.
    std::string path = TestHook("DependentHook");
    void* plain = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!plain) {
        plain = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_EQ(plain, nullptr) << "the test plug-in should not find its helper by itself";
    }
    if (plain)
        dlclose(plain);

    std::string cwd = fs::current_path().string();
    const char* pathVariable = getenv("PATH");
    std::string pathBefore = pathVariable ? pathVariable : "";
    EXPECT_EQ(AddHook(path), "");
    EXPECT_TRUE(session.UsingVhook);
    EXPECT_EQ(fs::current_path().string(), cwd);
    EXPECT_EQ(std::string(getenv("PATH") ? getenv("PATH") : ""), pathBefore);
}

// Refusals through the component: the library's log line, then the option's failure text.
class FrameHookRefusalTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastError();
        converter.OnLog = [this](int, mobivert::converter::TLogLevel, const std::string& text) {
            std::lock_guard lock(mutex);
            logs.push_back(text);
        };
    }

    // Sets an output with the "vhook" value; the component's error, "" when accepted.
    std::string SetOutputWithHook(const std::string& value) {
        int index = converter.AddInputFile(Fixture("h264_aac.mp4"));
        EXPECT_GE(index, 0) << converter.LastError();
        mobivert::converter::TOutputOptions output;
        output.ExtOptions = "vhook=" + value;
        if (converter.SetOutputFile(index, dir.File("out" + std::to_string(index) + ".mkv"),
                                    &output))
            return "";
        return converter.LastError();
    }

    bool Logged(const std::string& text) {
        std::lock_guard lock(mutex);
        for (const std::string& line : logs)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    TempDir dir;
    mobivert::converter::TAVConverter converter;
    std::mutex mutex;
    std::vector<std::string> logs;
};

TEST_F(FrameHookRefusalTest, EachRefusalLogsItsReasonAndFailsTheOption) {
    std::string noProcess = TestHook("NoProcessHook");
    EXPECT_EQ(SetOutputWithHook(noProcess), "Failed to add video hook function: " + noProcess);
    EXPECT_TRUE(Logged("Failed to find Process entrypoint in " + noProcess));

    std::string wrongNames = TestHook("WrongNamesHook") + " a";
    EXPECT_EQ(SetOutputWithHook(wrongNames), "Failed to add video hook function: " + wrongNames);

    std::string noConfigure = TestHook("NoConfigureHook") + "|a|b";
    EXPECT_EQ(SetOutputWithHook(noConfigure), "Failed to add video hook function: " + noConfigure);
    EXPECT_TRUE(Logged("Failed to find Configure entrypoint in " + TestHook("NoConfigureHook")));

    std::string refused = ExampleHook() + " color=red";
    EXPECT_EQ(SetOutputWithHook(refused), "Failed to add video hook function: " + refused);
    EXPECT_TRUE(Logged("Failed to Configure " + ExampleHook()));

    std::string missing = dir.File("no such hook.so") + "|x=1";
    EXPECT_EQ(SetOutputWithHook(missing), "Failed to add video hook function: " + missing);
    EXPECT_TRUE(Logged(dir.File("no such hook.so")));
    EXPECT_TRUE(Logged("No such file"));

    std::ofstream(dir.File("plain.so")) << "not a library\n";
    EXPECT_EQ(SetOutputWithHook(dir.File("plain.so")),
              "Failed to add video hook function: " + dir.File("plain.so"));

    EXPECT_EQ(SetOutputWithHook(ExampleHook() + " x=0 y=0"), "");
}

TEST(FrameHookRangesTest, RangeTextKeepsOnlySoundPairsInMicroseconds) {
    using mobivert::converter::ParseHookRanges;
    auto pairs = [](const std::string& text) {
        std::vector<std::pair<int64_t, int64_t>> result;
        for (const HookTimeRange& range : ParseHookRanges(text))
            result.emplace_back(range.Start, range.End);
        return result;
    };
    using Pairs = std::vector<std::pair<int64_t, int64_t>>;
    EXPECT_EQ(pairs("5000-1000, abc-2000"), (Pairs{{-1000, 2000000}}));
    EXPECT_EQ(pairs(" 1000-2000, 5000-6000 "), (Pairs{{1000000, 2000000}, {5000000, 6000000}}));
    EXPECT_TRUE(pairs("").empty());
    EXPECT_TRUE(pairs("3000, -, 1-x").empty());
    // An end too large for microseconds means "to the end", not a negative time.
    const int64_t largest = std::numeric_limits<int64_t>::max() / 1000 * 1000;
    EXPECT_EQ(pairs("0-9223372036854775807"), (Pairs{{0, largest}}));
}

TEST(FrameHookBitmapTest, RowsAreTopDownAndPaddedToFourBytes) {
    TBitmap bitmap(5, 3);
    EXPECT_EQ(bitmap.RowBytes(), 16);
    EXPECT_EQ(bitmap.PixelFormat(), 24);
    ASSERT_NE(bitmap.ScanLine(0), nullptr);
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), 16);
    EXPECT_EQ(bitmap.ScanLine(3), nullptr);
    EXPECT_EQ(bitmap.ScanLine(-1), nullptr);

    // Blue, green, red in each pixel; the rectangle is clipped to the picture.
    bitmap.Canvas().FillRect(3, -2, 9, 1, 200, 100, 50);
    const uint8_t* top = bitmap.ScanLine(0);
    EXPECT_THAT(std::vector<int>(top + 9, top + 15), ElementsAre(50, 100, 200, 50, 100, 200));
    EXPECT_EQ(top[8], 0);
    EXPECT_EQ(bitmap.ScanLine(1)[9], 0);

    // Another thread waits while the canvas is locked.
    bitmap.Canvas().Lock();
    bool taken = true;
    std::thread other([&] { taken = bitmap.Canvas().TryLock(); });
    other.join();
    EXPECT_FALSE(taken);
    bitmap.Canvas().Unlock();
}

} // namespace
