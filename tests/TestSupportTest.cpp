// The test support itself where it can go wrong: a scoped variable gives back the value it
// replaced (or the variable's absence), quoting survives the real shell, and the test program
// names the built worker when it is run without CTest's environment.

#include "converter/WorkerProcess.h"
#include "support/ScopedVariable.h"
#include "support/ShellCommand.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>

using mobivert::test::RunCommand;
using mobivert::test::ScopedVariable;
using mobivert::test::ShellQuoted;

namespace {

const char* const Name = "MOBIVERT_TEST_SCOPED_VARIABLE";

TEST(ScopedVariableTest, RestoresTheValueItReplacedOrTheVariablesAbsence) {
    unsetenv(Name);
    {
        ScopedVariable set(Name, "first");
        EXPECT_STREQ(std::getenv(Name), "first");
        {
            ScopedVariable removed(Name, std::nullopt);
            EXPECT_EQ(std::getenv(Name), nullptr);
            ScopedVariable again(Name, "second");
            EXPECT_STREQ(std::getenv(Name), "second");
        }
        EXPECT_STREQ(std::getenv(Name), "first");
        {
            ScopedVariable empty(Name, "");
            EXPECT_STREQ(std::getenv(Name), "");
        }
        EXPECT_STREQ(std::getenv(Name), "first");
    }
    EXPECT_EQ(std::getenv(Name), nullptr);
}

TEST(ShellCommandTest, QuotedTextReachesTheProgramAsItIsAndTheStatusComesBack) {
    for (const char* text : {"plain", "it's", "'", "a b  $HOME `x` \"q\" \\"})
        EXPECT_EQ(RunCommand("printf %s " + ShellQuoted(text)), text);
    int status = 0;
    EXPECT_EQ(RunCommand("echo out; exit 3", &status), "out\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(WorkerEnvironmentTest, TheTestProgramNamesAnExecutableWorker) {
    const char* worker = std::getenv(mobivert::converter::WORKER_ENVIRONMENT);
    ASSERT_NE(worker, nullptr);
    EXPECT_TRUE(mobivert::converter::IsExecutable(worker)) << worker;
}

} // namespace
