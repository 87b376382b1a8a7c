// Inputs that cannot be opened: each gives its set-up text and false, and leaves no trace in the
// session (the sanitizer build checks that nothing leaks on these paths).

#include "binding/AVLibs.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace mobivert::engine;
using mobivert::test::Fixture;
using mobivert::test::TempDir;

namespace {

class InputOpeningBadInputTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
        session.Verbose = -1;
    }

    // Opens a file that must be refused and checks that the session holds nothing of it.
    std::string Refusal(const std::string& fileName) {
        session.ApplyOptionText("f=mp4"); // per-input state that every way out must reset
        bool opened = session.OpenInputFile(fileName);
        EXPECT_FALSE(opened) << fileName;
        EXPECT_EQ(session.InputFileCount, 0);
        EXPECT_EQ(session.InputFiles[0], nullptr);
        EXPECT_TRUE(session.InputDecoders[0].empty());
        EXPECT_EQ(session.ForcedInputFormat, nullptr);
        EXPECT_EQ(session.ForcedOutputFormat, nullptr);
        return session.SetupError;
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    TempDir dir;
    TCustomFFmpeg session;
};

TEST_F(InputOpeningBadInputTest, UnrecognisedDataIsAnUnknownFormat) {
    // The forced format of Refusal() would decide the demuxer: these go without one.
    for (const std::string& path :
         {Write("empty.avi", ""), Write("text.avi", "just some text\n")}) {
        EXPECT_FALSE(session.OpenInputFile(path));
        EXPECT_EQ(session.SetupError, path + ": Unknown format");
        EXPECT_EQ(session.InputFileCount, 0);
    }
}

TEST_F(InputOpeningBadInputTest, EachBrokenFileGetsItsOwnText) {
    const std::string missing = dir.File("missing.avi");
    EXPECT_EQ(Refusal(missing), missing + ": no such file or directory");

    // An MP4 cut before its index is recognised but its header cannot be read.
    std::ifstream whole(Fixture("h264_aac.mp4"), std::ios::binary);
    std::string head(30000, '\0');
    whole.read(head.data(), static_cast<std::streamsize>(head.size()));
    const std::string truncated = Write("truncated.mp4", head);
    EXPECT_EQ(Refusal(truncated), truncated + ": Error while parsing header");
    session.ForcedInputFormat = nullptr;
    EXPECT_FALSE(session.OpenInputFile(truncated));
    EXPECT_EQ(session.SetupError, truncated + ": Error while parsing header");

    EXPECT_EQ(Refusal(dir.Path().string()), dir.Path().string() + ": Error while opening file");

    const std::string longName = dir.File(std::string(5000, 'l') + ".avi");
    EXPECT_EQ(Refusal(longName), longName + ": Error while opening file");

    // A read that fails after the file was opened.
    EXPECT_EQ(Refusal("/proc/self/mem"),
              "/proc/self/mem: I/O error occurred\r\nUsually that means that input file is "
              "truncated and/or corrupted.");
}

TEST_F(InputOpeningBadInputTest, FileWithoutReadPermissionGivesTheIoText) {
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_exec);
    std::string path = dir.File("secret.mp4");
    std::filesystem::copy_file(Fixture("h264_aac.mp4"), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a child that has given up any administrator rights, as an ordinary user would run it.
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(3);
            TCustomFFmpeg child;
            child.InitSession();
            child.Verbose = -1;
            bool opened = child.OpenInputFile(path);
            fprintf(stderr, "[%s] count=%d\n", child.SetupError.c_str(), child.InputFileCount);
            _exit(opened ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "\\[.*secret.mp4: I/O error occurred.*\\] count=0");
}

TEST_F(InputOpeningBadInputTest, SessionStillOpensGoodFilesAfterRefusals) {
    Refusal(Write("empty.mp4", ""));
    Refusal(dir.File("missing.mp4"));
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4"))) << session.SetupError;
    EXPECT_EQ(session.InputFileCount, 1);
    EXPECT_EQ(session.FrameWidth, 640);
}

} // namespace
