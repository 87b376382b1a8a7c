// Inputs and outputs that cannot be trusted: damaged and cut sources, a source cut while it is
// read, a huge file of nothing, outputs that receive no media, an output folder removed during
// the run. Each ends in a plain failure or a clean stop, never in a crash, a hang, unbounded
// memory or a "Done" that is not true.

#include "binding/AVLibs.h"
#include "converter/AVProbe.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

using namespace mobivert::engine;
using namespace mobivert::test;
using testing::HasSubstr;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

// The "3GPP 176*144" preset's values, and the MPEG-4 preset's codecs.
constexpr const char* ThreeGpp =
    "vcodec=h263\ns=176x144\nb=120000\nacodec=libopencore_amrnb\nac=1\nar=8000\nab=10200";
constexpr const char* Mpeg4 = "vcodec=mpeg4\nacodec=aac";

class InputDistrustTest : public mobivert::test::LibrariesTest {
protected:
    // The first bytes of a fixture, as `head -c` would cut them.
    std::string Head(const std::string& fixture, size_t bytes, const std::string& name) {
        std::ifstream in(Fixture(fixture), std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary) << data.substr(0, bytes);
        return path;
    }
    TempDir dir;
};

TEST_F(InputDistrustTest, CutSourcesFailPlainlyAndLeaveNoOutput) {
    // A transport stream cut after 474 bytes: its video stream's pictures were never seen, so
    // neither their size nor their pixel format is known. No scaler may be set up from that.
    struct Case {
        const char* Fixture;
        size_t Bytes;
        const char* Name;
        const char* Options;
        const char* Message;
    } cases[] = {
        {"h264.ts", 474, "cut.ts", ThreeGpp,
         "Video stream #0.0 cannot be converted: its picture size or pixel format is unknown "
         "(the file is damaged or incomplete)"},
        // A WebM cut inside its first cluster: the streams are described, nothing decodes, and
        // an MP4 without media would only be a header.
        {"vp8_vorbis.webm", 4736, "cut.webm", Mpeg4,
         ": no media was written (nothing in the source could be converted)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        for (int verbose : {0, -1}) {
            EngineRun run;
            run.Session.Verbose = verbose;
            ASSERT_TRUE(run.AddInput(Head(c.Fixture, c.Bytes, c.Name))) << run.Error();
            std::string out = dir.File(std::string(c.Name) + ".out.mp4");
            ASSERT_TRUE(run.SetOutput(out, c.Options)) << run.Error();
            run.Run();
            EXPECT_TRUE(run.Failed());
            EXPECT_FALSE(run.Session.Finished);
            EXPECT_THAT(run.Error(), HasSubstr(c.Message));
            EXPECT_FALSE(fs::exists(out));
            EXPECT_TRUE(run.Session.OpenEncoders.empty());
        }
    }
}

TEST_F(InputDistrustTest, ASourceCutWhileItIsReadFailsInsteadOfEndingEarly) {
    std::string source = dir.File("source.mpg");
    fs::copy_file(Fixture("mpeg2_mp2.mpg"), source);
    auto size = fs::file_size(source);
    EngineRun run;
    ASSERT_TRUE(run.AddInput(source)) << run.Error();
    std::string out = dir.File("out.avi");
    ASSERT_TRUE(run.SetOutput(out, Mpeg4)) << run.Error();
    run.Session.ProgressInterval = 0;
    bool cut = false;
    run.Session.OnProgress = [&](TCustomFFmpeg&, int32_t, int32_t, int32_t, float, float, int64_t,
                                 int32_t) {
        if (!cut)
            fs::resize_file(source, size / 3);
        cut = true;
    };
    run.Run();
    ASSERT_TRUE(cut);
    EXPECT_TRUE(run.Failed());
    EXPECT_EQ(run.Error(),
              "Error while reading " + source + ": the file became shorter while it was converted");
}

TEST_F(InputDistrustTest, AHugeFileOfZerosIsRefusedQuicklyInFlatMemoryAndStopEndsTheProbe) {
    std::string zeros = dir.File("zeros.mp3");
    std::ofstream(zeros).close();
    fs::resize_file(zeros, 4LL << 30); // sparse: nothing is written
    auto start = std::chrono::steady_clock::now();
    EngineRun run;
    EXPECT_FALSE(run.AddInput(zeros));
    EXPECT_EQ(run.Error(), zeros + ": no media found in 32 MB of data (the file is damaged or not "
                                   "media)");
    mobivert::converter::TAVProbe probe;
    EXPECT_FALSE(probe.Open(zeros));
    EXPECT_EQ(probe.LastError(), run.Error());
    // Loose bounds: the whole file would take minutes and gigabytes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1024L * 1024); // kilobytes

    // A stop request ends the probing at its next read.
    std::atomic<bool> stop{true};
    probe.WatchStop(&stop);
    EXPECT_FALSE(probe.Open(zeros));
    EXPECT_EQ(probe.LastError(), zeros + ": stopped");
    probe.WatchStop(nullptr);
    EXPECT_TRUE(probe.Open(Fixture("tone.mp3"))) << probe.LastError();
}

TEST_F(InputDistrustTest, AStopBeforeAnyMediaKeepsNothing) {
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("sample.mp4")));
    std::string out = dir.File("stopped.mp4");
    ASSERT_TRUE(run.SetOutput(out, Mpeg4));
    // Asked to stop while the run is being set up: the header is written, no packet follows.
    run.Session.OnLog = [](TCustomFFmpeg& session, int, const std::string& text) {
        if (text == "Stream mapping:")
            session.StopConvert();
    };
    run.Run();
    EXPECT_FALSE(run.Failed()) << run.Error();
    EXPECT_FALSE(run.Session.Finished);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(InputDistrustTest, AnOutputWhoseFolderWasRemovedDuringTheRunIsNotDone) {
    fs::path folder = dir.Path() / "gone";
    fs::create_directory(folder);
    std::string out = (folder / "out.avi").string();
    EngineRun run;
    ASSERT_TRUE(run.AddInput(Fixture("sample.mp4")));
    ASSERT_TRUE(run.SetOutput(out, Mpeg4));
    run.Session.ProgressInterval = 0;
    run.Session.OnProgress = [&](TCustomFFmpeg&, int32_t, int32_t, int32_t, float, float, int64_t,
                                 int32_t) { fs::remove_all(folder); };
    run.Run();
    EXPECT_TRUE(run.Failed());
    EXPECT_EQ(run.Error(), out + ": the output file is gone (its folder was removed or renamed "
                                 "during the conversion)");
}

// A file system of 64 kB of its own, mounted for the test (needs root; skipped otherwise).
class SmallDisk {
public:
    explicit SmallDisk(const fs::path& folder) : folder_(folder) {
        fs::create_directory(folder_);
        mounted_ = mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            umount(folder_.c_str());
    }
    bool Mounted() const { return mounted_; }
    // Fills the disk up to the given number of free kilobytes.
    void Leave(int kilobytes) {
        for (const auto& entry : fs::directory_iterator(folder_))
            fs::remove(entry.path());
        std::ofstream filler(folder_ / "filler", std::ios::binary);
        filler << std::string((64 - kilobytes) * 1024, '\0');
    }

private:
    fs::path folder_;
    bool mounted_ = false;
};

TEST_F(InputDistrustTest, OnAFullDiskMp4AndMovSayNoSpaceLeft) {
    SmallDisk disk(dir.Path() / "disk");
    if (!disk.Mounted())
        GTEST_SKIP() << "a small disk cannot be mounted here (needs root)";
    for (const char* extension : {".mp4", ".mov"}) {
        SCOPED_TRACE(extension);
        // Nothing left: the header cannot be written. A little left: the header fits, the
        // media and the index do not.
        struct {
            int FreeKb;
            std::string Message;
        } cases[] = {{0, "Could not write header for output file #0: no space left on the device"},
                     {4, "av_write_trailer(): no space left on the device"}};
        for (const auto& c : cases) {
            disk.Leave(c.FreeKb);
            EngineRun run;
            ASSERT_TRUE(run.AddInput(Fixture("sample.mp4")));
            ASSERT_TRUE(run.SetOutput(dir.File("disk/out") + extension, Mpeg4)) << run.Error();
            run.Run();
            EXPECT_TRUE(run.Failed());
            // The library's own reason may follow.
            EXPECT_THAT(run.Error(), StartsWith(c.Message));
        }
    }
}

} // namespace
