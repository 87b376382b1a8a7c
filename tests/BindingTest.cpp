// Loading the FFmpeg libraries at run time: search order, error texts, unloading after a failure.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sstream>
#include <unistd.h>

using namespace mobivert::binding;
using mobivert::test::TempDir;
using testing::HasSubstr;
using testing::StartsWith;

namespace {

std::vector<LibraryBinder*> AllBinders() {
    return {&AVCodecBinder(), &AVFilterBinder(), &AVFormatBinder(),
            &AVUtilBinder(),  &SwScaleBinder(),  &SwResampleBinder()};
}

bool NothingLoaded() {
    for (LibraryBinder* binder : AllBinders())
        if (binder->IsLoaded() || binder->IsBound())
            return false;
    return true;
}

std::string CurrentDirectory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

// Where the dynamic loader's cache finds a library, without loading it.
std::string SystemLibraryPath(const std::string& fileName) {
    std::istringstream cache(mobivert::test::RunCommand("/sbin/ldconfig -p"));
    std::string path;
    std::string text;
    while (path.empty() && std::getline(cache, text)) {
        std::string::size_type arrow = text.find(" => ");
        if (text.find(fileName + " (") != std::string::npos && arrow != std::string::npos)
            path = text.substr(arrow + 4);
    }
    return path;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class BindingTest : public testing::Test {
protected:
    void SetUp() override { UnloadAVLibs(); }
    void TearDown() override { UnloadAVLibs(); }
};

TEST_F(BindingTest, LoadsEveryLibraryFromTheSystemAndBindsEveryEntry) {
    std::string filterError;
    EXPECT_FALSE(LoadAVFilter(filterError));
    EXPECT_EQ(filterError, "LibAVFilter not loaded.");
    EXPECT_FALSE(AVFilterBinder().IsLoaded());

    ASSERT_TRUE(LoadAVLibs("", true)) << AVLibsLastError();
    EXPECT_TRUE(AVLibsLoaded());
    EXPECT_EQ(AVLibsLastError(), "");
    // libavfilter waits until a filter graph is needed.
    EXPECT_FALSE(AVFilterBinder().IsLoaded());
    EXPECT_EQ(av::av_buffersink_get_frame, nullptr);
    filterError.clear();
    ASSERT_TRUE(LoadAVFilter(filterError)) << filterError;
    EXPECT_TRUE(LoadAVFilter(filterError)); // once
    for (LibraryBinder* binder : AllBinders())
        EXPECT_TRUE(binder->IsBound()) << binder->FileName();
    EXPECT_EQ(AVCodecBinder().FileName(),
              "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR));
    ASSERT_NE(av::avcodec_version, nullptr);
    EXPECT_EQ(av::avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_NE(av::swr_set_compensation, nullptr);
    EXPECT_NE(av::av_buffersink_get_frame, nullptr);
}

TEST_F(BindingTest, PlainNamesAreUsedWhenVersionedNamesAreNotAsked) {
    ASSERT_TRUE(LoadAVLibs("", false)) << AVLibsLastError();
    EXPECT_EQ(AVCodecBinder().FileName(), "libavcodec.so");
    EXPECT_EQ(SwResampleBinder().FileName(), "libswresample.so");
}

TEST_F(BindingTest, SecondLoadAfterSuccessLoadsNothing) {
    ASSERT_TRUE(LoadAVLibs("", true));
    std::string codecPath = AVCodecBinder().LoadedPath();
    // A folder holding a broken codec library would fail a real load: the second call must not
    // even look at it.
    TempDir lib;
    WriteFile(lib.File(AVCodecBinder().FileName()), "not a shared library");
    EXPECT_TRUE(LoadAVLibs(lib.Path().string(), true));
    EXPECT_EQ(AVCodecBinder().LoadedPath(), codecPath);
}

TEST_F(BindingTest, MissingLibraryGivesTheLoadTextAndNoHandle) {
    LibraryBinder missing("libmobivert-missing.so", "libmobivert-missing.so.7",
                          {EntrySlot{"anything", [](void*) {}}});
    std::string error;
    bool bound = missing.LoadLib("", true, error);
    EXPECT_FALSE(bound);
    EXPECT_THAT(error, StartsWith("Load libraray libmobivert-missing.so.7 error: "));
    EXPECT_THAT(error, HasSubstr("cannot open shared object file"));
    EXPECT_EQ(missing.LastError(), error);
    EXPECT_FALSE(missing.IsLoaded());
}

TEST_F(BindingTest, CorruptLibraryInTheLibFolderFailsAndLeavesNothingLoaded) {
    TempDir lib;
    WriteFile(lib.File(SwScaleBinder().FileName()), std::string(4096, '\x7f'));
    std::string cwd = CurrentDirectory();
    const char* pathBefore = std::getenv("PATH");
    std::string path = pathBefore ? pathBefore : "";

    EXPECT_FALSE(LoadAVLibs(lib.Path().string(), true));
    EXPECT_THAT(AVLibsLastError(),
                StartsWith("Load libraray " + SwScaleBinder().FileName() + " error: "));
    EXPECT_THAT(AVLibsLastError(), HasSubstr(lib.Path().string()));
    EXPECT_FALSE(AVLibsLoaded());
    EXPECT_TRUE(NothingLoaded());
    EXPECT_EQ(CurrentDirectory(), cwd);
    EXPECT_EQ(std::getenv("PATH") ? std::getenv("PATH") : "", path);
}

TEST_F(BindingTest, BrokenFilterLibraryFailsOnlyItsOwnLoad) {
    TempDir lib;
    WriteFile(lib.File(AVFilterBinder().FileName()), std::string(4096, '\x7f'));
    ASSERT_TRUE(LoadAVLibs(lib.Path().string(), true)) << AVLibsLastError();
    std::string error;
    EXPECT_FALSE(LoadAVFilter(error));
    EXPECT_THAT(error, StartsWith("Load libraray " + AVFilterBinder().FileName() + " error: "));
    EXPECT_THAT(error, HasSubstr(lib.Path().string()));
    EXPECT_FALSE(AVFilterBinder().IsLoaded());
    EXPECT_TRUE(AVCodecBinder().IsBound());
    UnloadAVLibs();
    EXPECT_TRUE(NothingLoaded());
}

TEST_F(BindingTest, LibraryWithoutAnEntryNamesTheEntryAndIsUnloadedAgain) {
    TempDir lib;
    std::filesystem::copy_file(MOBIVERT_STANDIN_LIBRARY, lib.File(AVCodecBinder().FileName()));
    EXPECT_FALSE(LoadAVLibs(lib.Path().string(), true));
    // The stand-in has avcodec_version, the first entry, and lacks the second.
    EXPECT_THAT(AVLibsLastError(), StartsWith("Load function avcodec_alloc_context3@" +
                                              AVCodecBinder().FileName() + " error: "));
    EXPECT_THAT(AVLibsLastError(), HasSubstr("undefined symbol: avcodec_alloc_context3"));
    EXPECT_TRUE(NothingLoaded());
    EXPECT_EQ(av::avcodec_version, nullptr);
}

TEST_F(BindingTest, RetryingAnUnboundLibraryBindsWithoutReloadingIt) {
    TempDir lib;
    std::filesystem::copy_file(MOBIVERT_STANDIN_LIBRARY, lib.File(AVCodecBinder().FileName()));
    std::string error;
    EXPECT_FALSE(AVCodecBinder().LoadLib(lib.Path().string(), true, error));
    EXPECT_TRUE(AVCodecBinder().IsLoaded());
    EXPECT_FALSE(AVCodecBinder().IsBound());
    std::string standinPath = AVCodecBinder().LoadedPath();
    // A second attempt keeps the stand-in it has and fails on the same entry again.
    std::string second;
    EXPECT_FALSE(AVCodecBinder().LoadLib("", true, second));
    EXPECT_EQ(second, error);
    EXPECT_EQ(AVCodecBinder().LoadedPath(), standinPath);
    AVCodecBinder().UnloadLib();
    EXPECT_FALSE(AVCodecBinder().IsLoaded());
}

// Loads the libraries from the folder and reports what is wrong, if anything; the process must not
// have loaded any FFmpeg library before.
std::string LoadFromFolderAndCheck(const std::string& folder) {
    if (!LoadAVLibs(folder, true))
        return AVLibsLastError();
    // libavfilter, loaded later, comes from the same folder.
    if (std::string error; !LoadAVFilter(error))
        return error;
    for (LibraryBinder* binder : AllBinders())
        if (binder->LoadedPath().rfind(folder, 0) != 0)
            return binder->FileName() + " came from " + binder->LoadedPath();
    // The other libraries' own use of libavutil goes to the bundled copy too: no second,
    // system-wide libavutil is mapped into the process.
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(AVUtilBinder().FileName()) != std::string::npos &&
            line.find(folder) == std::string::npos)
            return "a second libavutil is mapped: " + line;
    return "";
}

TEST_F(BindingTest, LibrariesInTheLibFolderWinOverTheSystemOnes) {
    TempDir lib;
    for (LibraryBinder* binder : AllBinders()) {
        std::string system = SystemLibraryPath(binder->FileName());
        ASSERT_FALSE(system.empty()) << binder->FileName();
        std::filesystem::copy_file(system, lib.File(binder->FileName()));
    }
    std::string cwd = CurrentDirectory();
    // Loaded code stays mapped for the life of a process, so the check runs in a fresh one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::string problem = LoadFromFolderAndCheck(lib.Path().string());
            std::fprintf(stderr, "%s", problem.c_str());
            std::exit(problem.empty() && CurrentDirectory() == cwd ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(BindingTest, MissingFolderFallsBackToTheSystemSearch) {
    ASSERT_TRUE(LoadAVLibs("/nonexistent/mobivert/lib", true)) << AVLibsLastError();
    EXPECT_THAT(AVCodecBinder().LoadedPath(), testing::Not(HasSubstr("nonexistent")));
    EXPECT_FALSE(AVCodecBinder().LoadedPath().empty());
}

TEST_F(BindingTest, CachedLogLevelFollowsTheLibrary) {
    ASSERT_TRUE(LoadAVLibs("", true));
    av::av_log_set_level(AV_LOG_DEBUG);
    RefreshCachedLogLevel();
    EXPECT_EQ(CachedLogLevel(), AV_LOG_DEBUG);
    av::av_log_set_level(AV_LOG_INFO);
    RefreshCachedLogLevel();
    EXPECT_EQ(CachedLogLevel(), AV_LOG_INFO);
}

} // namespace
