// What a long batch costs in memory: the heap policy of the front ends, and how little a set-up
// task keeps while it waits (no opened input, output or codec, none of the session's tables of
// files and maps, a small record) and after its run.

#include "app/shared/ConversionDriver.h"
#include "app/shared/HeapPolicy.h"
#include "binding/AVLibs.h"
#include "converter/FFmpegTask.h"
#include "engine/session/FFmpeg.h"
#include "support/ConverterEvents.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>
#include <vector>

using namespace mobivert::app;
using mobivert::converter::TAVConverter;
using mobivert::engine::TCustomFFmpeg;
using namespace mobivert::test;
using namespace std::chrono_literals;

namespace {

// The sanitizers' allocators keep their own books: the C library's figures say nothing there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool CLibraryAllocator = false;
#else
constexpr bool CLibraryAllocator = true;
#endif

// Bytes in live blocks, mapped ones included.
size_t LiveBytes() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// A block the compiler cannot leave out, with every page of it resident.
void* Touched(size_t bytes) {
    auto* block = static_cast<volatile char*>(std::malloc(bytes));
    for (size_t i = 0; i < bytes; i += 1024)
        block[i] = 1;
    block[bytes - 1] = 1;
    return const_cast<char*>(block);
}

TEST(HeapPolicyTest, LargeBuffersFreedBetweenLongLivedRecordsLeaveTheHeapAsLargeAsTheRecords) {
    if (!CLibraryAllocator)
        GTEST_SKIP() << "the sanitizer's allocator maps blocks by its own rules";
    ASSERT_TRUE(KeepLargeBuffersOffTheHeap());
    // Freeing a mapped block is what makes the C library's own policy carve every smaller block
    // out of the heap from then on.
    std::free(Touched(8 << 20));
    const auto heapBefore = static_cast<int64_t>(mallinfo2().arena);
    std::vector<void*> records;
    std::vector<void*> buffers;
    for (int i = 0; i < 20; ++i) {
        buffers.push_back(Touched(8 * LargeBlockBytes));
        records.push_back(Touched(64));
    }
    for (void* buffer : buffers)
        std::free(buffer);
    // 20 buffers of 512 kB below the records would keep 10 MB of heap.
    EXPECT_LT(static_cast<int64_t>(mallinfo2().arena) - heapBefore, 1 << 20);
    for (void* record : records)
        std::free(record);
}

// Resident bytes of this process.
int64_t ResidentBytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

TEST(HeapPolicyTest, FreedBlocksBelowALiveOneGiveTheirPagesBack) {
    if (!CLibraryAllocator)
        GTEST_SKIP() << "the sanitizer's allocator returns memory by its own rules";
    KeepLargeBuffersOffTheHeap();
    std::vector<void*> buffers;
    for (int i = 0; i < 256; ++i)
        buffers.push_back(Touched(LargeBlockBytes / 4));
    // A record allocated after them keeps the heap from shrinking past them.
    void* record = Touched(64);
    for (void* buffer : buffers)
        std::free(buffer);
    const int64_t before = ResidentBytes();
    ReturnFreedMemory();
    // 256 blocks of 16 kB: 4 MB, some of them perhaps in room the heap had before and gives
    // back on its own.
    EXPECT_GT(before - ResidentBytes(), 1 << 20);
    std::free(record);
}

// The session's tables of opened files and of stream maps that hold memory, by name.
std::vector<std::string> AllocatedTables(const TCustomFFmpeg& s) {
    std::vector<std::string> names;
    auto note = [&names](bool allocated, const char* name) {
        if (allocated)
            names.push_back(name);
    };
    note(s.StreamMaps.Allocated(), "StreamMaps");
    note(s.InputTsScales.Allocated(), "InputTsScales");
    note(s.InputReadGuards.Allocated(), "InputReadGuards");
    note(s.InputDecoders.Allocated(), "InputDecoders");
    note(s.OutputEncoders.Allocated(), "OutputEncoders");
    note(s.OutputStreamCopy.Allocated(), "OutputStreamCopy");
    note(s.BitstreamFilters.Allocated(), "BitstreamFilters");
    return names;
}

TEST(SessionTablesTest, TablesComeWithFilesAndMapsAndGoWithTheSession) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    TempDir dir;
    TCustomFFmpeg session;
    session.InitSession();
    session.Verbose = -1;
    EXPECT_THAT(AllocatedTables(session), ::testing::IsEmpty());
    // A table read through a const session that holds none shows its initial values.
    const TCustomFFmpeg& view = session;
    EXPECT_EQ(view.StreamMaps[399].StreamIndex, 0);
    EXPECT_EQ(view.InputTsScales[19][19], 0.0);
    EXPECT_THAT(AllocatedTables(session), ::testing::IsEmpty());

    session.ApplyOptionText("itsscale=0:0.5");
    ASSERT_TRUE(session.OpenInputFile(Fixture("mono8k.wav"))) << session.SetupError;
    session.ApplyOptionText("map=0:0\nacodec=pcm_s16le");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("out.wav"))) << session.SetupError;
    EXPECT_EQ(session.StreamMaps[0].FileIndex, 0);
    EXPECT_DOUBLE_EQ(session.InputTsScales[0][0], 0.5);
    EXPECT_EQ(session.OutputEncoders[0].size(), 1u);
    EXPECT_THAT(AllocatedTables(session),
                ::testing::ElementsAre("StreamMaps", "InputTsScales", "InputReadGuards",
                                       "InputDecoders", "OutputEncoders", "OutputStreamCopy",
                                       "BitstreamFilters"));

    session.FreeSession();
    EXPECT_THAT(AllocatedTables(session), ::testing::IsEmpty());
    EXPECT_EQ(session.StreamMapCount, 0);
}

class WaitingTaskMemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        KeepLargeBuffersOffTheHeap();
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
        ASSERT_TRUE(driver.LoadLibraries(""));
        converter.SetLogLevel(mobivert::converter::llQuiet);
        events.Attach(converter, {.Logs = false, .Progress = false});
        settings.PresetText = "Wave Audio (*.wav)";
        settings.OutputFolder = out.Path().string();
        settings.ReserveOutputNames = true;
    }

    // COUNT copies of one small WAV file, set up as a batch.
    std::vector<TBatchSource> SetUpBatch(int count) {
        std::vector<TBatchSource> sources(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            sources[static_cast<size_t>(i)].Path =
                in.File(std::to_string(count) + "-" + std::to_string(i) + ".wav");
            std::filesystem::copy_file(Fixture("mono8k.wav"), sources[i].Path);
        }
        driver.LoadSources(sources, settings);
        EXPECT_EQ(driver.ConfigureOutputs(sources, settings), count);
        return sources;
    }

    int OpenedTasks() const {
        int opened = 0;
        for (int i = 0; i < converter.TaskCount(); ++i) {
            const mobivert::converter::TFFmpeg* task = converter.Tasks(i);
            opened += task->InputFileCount > 0 || task->OutputFileCount > 0 ? 1 : 0;
        }
        return opened;
    }

    int TasksWithTables() const {
        int holding = 0;
        for (int i = 0; i < converter.TaskCount(); ++i)
            holding += AllocatedTables(*converter.Tasks(i)).empty() ? 0 : 1;
        return holding;
    }

    TempDir out;
    TempDir in;
    TAVConverter converter;
    TConversionDriver driver{converter};
    TBatchSettings settings;
    ConverterEvents events;
};

TEST_F(WaitingTaskMemoryTest, ASetUpTaskHoldsNoFileAndASmallRecordBeforeAndAfterItsRun) {
    constexpr int Count = 150;
    // The libraries' one-time allocations (codec tables, the first opening) are not the tasks'.
    SetUpBatch(2);
    converter.ClearTasks();
    const size_t before = LiveBytes();
    SetUpBatch(Count);
    const size_t waiting = LiveBytes();
    // Only the task looked at last may hold its opened files until the batch starts.
    EXPECT_LE(OpenedTasks(), 1);
    EXPECT_LE(TasksWithTables(), 1);
    // A task's records with its session's options are about 6 KB; the session's tables of
    // files and maps would add 13 KB, opened files, codec contexts or I/O buffers 32 KB and
    // more each.
    if (CLibraryAllocator) {
        EXPECT_LT((waiting - before) / Count, 10u * 1024);
    }

    converter.StartConvert(1);
    ASSERT_TRUE(events.WaitBatchEnd(120s));
    int failures = 0;
    for (const TerminateRecord& end : events.TaskEnds())
        failures += end.Exception ? 1 : 0;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(OpenedTasks(), 0);
    EXPECT_EQ(TasksWithTables(), 0);
    // Each run's buffers and tables went with it.
    if (CLibraryAllocator) {
        EXPECT_LT((LiveBytes() - before) / Count, 10u * 1024);
    }
}

} // namespace
