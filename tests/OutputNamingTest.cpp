// Output naming: the name pattern, numbering while a name is taken by a file or by an earlier
// source of the same batch, folder creation and name reservation.

#include "app/shared/OutputNaming.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace mobivert::app;
using mobivert::test::TempDir;
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path) << content;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(OutputNamingTest, NameIsBaseWithoutExtensionThenPresetNameAndExtension) {
    EXPECT_EQ(NumberedOutputName("/v/clip.avi", "3GPP 128*96 (*.3gp)", 0),
              "/v/clip (3GPP 128x96).3gp");
    EXPECT_EQ(NumberedOutputName("/v/clip.avi", "3GPP 128*96 (*.3gp)", 1),
              "/v/clip (3GPP 128x96 [1]).3gp");
    EXPECT_EQ(NumberedOutputName("/v/clip.avi", "3GPP 128*96 (*.3gp)", 12),
              "/v/clip (3GPP 128x96 [12]).3gp");
    // Only the last extension goes; a name without one keeps all of it.
    EXPECT_EQ(NumberedOutputName("/v/a.b.mp4", "Wave Audio (*.wav)", 0), "/v/a.b (Wave Audio).wav");
    EXPECT_EQ(NumberedOutputName("/v/clip", "Wave Audio (*.wav)", 0), "/v/clip (Wave Audio).wav");
    EXPECT_EQ(NumberedOutputName("clip.mp4", "iRiver PMP-100 320*240 (*.avi)", 0),
              "clip (iRiver PMP-100 320x240).avi");
}

TEST(OutputNamingTest, SameFolderModeWritesBesideTheSourceAndNumbersPastExistingFiles) {
    TempDir dir;
    std::string source = dir.File("clip.avi");
    WriteFile(source, "source");
    WriteFile(dir.File("clip (3GPP 128x96).3gp"), "older output");
    WriteFile(dir.File("clip (3GPP 128x96 [1]).3gp"), "older output 1");

    TOutputNamer namer;
    std::string error;
    EXPECT_EQ(namer.Choose(source, "3GPP 128*96 (*.3gp)", true, "", error),
              dir.File("clip (3GPP 128x96 [2]).3gp"));
    EXPECT_TRUE(error.empty());
    // Naming alone writes nothing: without reservation no file appears.
    EXPECT_FALSE(fs::exists(dir.File("clip (3GPP 128x96 [2]).3gp")));
    EXPECT_EQ(ReadFile(dir.File("clip (3GPP 128x96).3gp")), "older output");
}

TEST(OutputNamingTest, SameNamedSourcesOfOneBatchGetDifferentOutputs) {
    TempDir dir;
    fs::create_directories(dir.Path() / "a");
    fs::create_directories(dir.Path() / "b");
    std::string out = dir.File("out");

    TOutputNamer namer;
    std::string error;
    std::string first =
        namer.Choose(dir.File("a/clip.avi"), "AVI Video (*.avi)", false, out, error);
    std::string second =
        namer.Choose(dir.File("b/clip.avi"), "AVI Video (*.avi)", false, out, error);
    // The same file named through another spelling of the folder is the same name.
    std::string third = namer.Choose(dir.File("b/clip.avi"), "AVI Video (*.avi)", false,
                                     dir.File("out/../out/."), error);
    EXPECT_EQ(first, out + "/clip (AVI Video).avi");
    EXPECT_EQ(second, out + "/clip (AVI Video [1]).avi");
    EXPECT_EQ(fs::path(third).filename(), "clip (AVI Video [2]).avi");

    // A new batch only avoids what exists on disk.
    namer.Reset();
    EXPECT_EQ(namer.Choose(dir.File("a/clip.avi"), "AVI Video (*.avi)", false, out, error), first);
}

TEST(OutputNamingTest, FoldersAndDanglingLinksTakeANameToo) {
    TempDir dir;
    fs::create_directories(dir.Path() / "clip (Wave Audio).wav");
    fs::create_symlink(dir.Path() / "missing-target", dir.Path() / "clip (Wave Audio [1]).wav");

    TOutputNamer namer;
    std::string error;
    EXPECT_EQ(namer.Choose(dir.File("clip.mp4"), "Wave Audio (*.wav)", true, "", error),
              dir.File("clip (Wave Audio [2]).wav"));
    EXPECT_FALSE(fs::exists(dir.Path() / "missing-target"));
}

TEST(OutputNamingTest, FolderThatCannotBeMadeGivesNoNameAndAReason) {
    TempDir dir;
    WriteFile(dir.File("file"), "a file where a folder should be");
    TOutputNamer namer;
    std::string error;
    EXPECT_EQ(namer.Choose("/v/clip.mp4", "AVI Video (*.avi)", false, dir.File("file/sub"), error),
              "");
    EXPECT_NE(error.find(dir.File("file/sub")), std::string::npos) << error;

    std::string folderError;
    EXPECT_FALSE(EnsureFolder(dir.File("file"), folderError));
    EXPECT_FALSE(folderError.empty());
    EXPECT_TRUE(EnsureFolder(dir.Path().string(), folderError));
}

TEST(OutputNamingTest, ReservationCreatesTheFileAndReleaseRemovesItOnlyWhileEmpty) {
    TempDir dir;
    TOutputNamer namer(true);
    std::string error;
    std::string first = namer.Choose(dir.File("clip.mp4"), "AVI Video (*.avi)", true, "", error);
    ASSERT_TRUE(fs::exists(first));
    EXPECT_EQ(fs::file_size(first), 0u);
    std::string second = namer.Choose(dir.File("clip.mp4"), "AVI Video (*.avi)", true, "", error);
    EXPECT_EQ(second, dir.File("clip (AVI Video [1]).avi"));

    WriteFile(second, "data");
    namer.ReleaseReservation(first);
    namer.ReleaseReservation(second);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(ReadFile(second), "data");

    // A file the namer did not reserve is never removed, empty or not.
    WriteFile(dir.File("other.avi"), "");
    namer.ReleaseReservation(dir.File("other.avi"));
    EXPECT_TRUE(fs::exists(dir.File("other.avi")));
}
