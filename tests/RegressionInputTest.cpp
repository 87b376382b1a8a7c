// Every input kept in tests/regressions/ (damaged media that once crashed, hung or fooled a
// conversion) converts to a clean outcome: refused with a reason, or a run that ends with a
// message or done, its output either complete or removed.

#include "binding/AVLibs.h"
#include "support/EngineRun.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace mobivert::test;
namespace fs = std::filesystem;

namespace {

// The conversion fuzzer's output options.
constexpr const char* OutputOptions = "vcodec=h263\ns=176x144\nr=15\nb=120000\n"
                                      "acodec=libopencore_amrnb\nac=1\nar=8000\nab=10200\n"
                                      "t=2\nfs=2000000";

std::vector<fs::path> RegressionInputs() {
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(MOBIVERT_REGRESSION_DIR))
        if (entry.is_regular_file() && entry.path().filename() != "README.md")
            inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

TEST(RegressionInputTest, EveryKeptInputEndsCleanly) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true)) << mobivert::binding::AVLibsLastError();
    std::vector<fs::path> inputs = RegressionInputs();
    ASSERT_GE(inputs.size(), 2u);
    TempDir dir;
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        // Both ways the converter opens inputs: describing every stream it can, and quietly
        // going on with streams it could not describe.
        for (int verbose : {0, -1}) {
            EngineRun run;
            run.Session.Verbose = verbose;
            if (!run.AddInput(input.string())) {
                EXPECT_FALSE(run.Error().empty());
                continue;
            }
            std::string out = dir.File("out.3gp");
            if (!run.SetOutput(out, OutputOptions)) {
                EXPECT_FALSE(run.Error().empty());
                continue;
            }
            run.Run();
            if (run.Failed()) {
                EXPECT_FALSE(run.Error().empty());
                EXPECT_FALSE(fs::exists(out) && fs::file_size(out) == 0);
            } else {
                EXPECT_TRUE(run.Session.Finished);
                EXPECT_GT(fs::file_size(out), 0u);
            }
            fs::remove(out);
        }
    }
}

} // namespace
