// The worker protocol's first line and controls: a job is read only after the protocol line of
// this build, so a worker of another build refuses it instead of misreading it.

#include "converter/WorkerProtocol.h"

#include <gtest/gtest.h>

using namespace mobivert::converter;

TEST(WorkerProtocolVersion, AJobIsReadOnlyAfterThisBuildsProtocolLine) {
    TWorkerJob job;
    job.InputFileName = "/in/a.wav";
    const std::string text = JobText(job);
    EXPECT_EQ(text.substr(0, text.find('\n')), PROTOCOL_LINE);

    for (const std::string first : {"mobivert-worker protocol 2", "lib=/opt", "end", ""}) {
        TWorkerJob read;
        bool done = true;
        EXPECT_FALSE(ReadJobLine(read, first, done)) << first;
        EXPECT_FALSE(done) << first;
    }
    TWorkerJob read;
    bool done = false;
    ASSERT_TRUE(ReadJobLine(read, PROTOCOL_LINE, done));
    EXPECT_FALSE(done);
    // The protocol line is not part of the job's body.
    EXPECT_FALSE(ReadJobLine(read, PROTOCOL_LINE, done));
    ASSERT_TRUE(ReadJobLine(read, "input=/in/a.wav", done));
    ASSERT_TRUE(ReadJobLine(read, "end", done));
    EXPECT_TRUE(done);
    EXPECT_EQ(read.InputFileName, "/in/a.wav");

    for (const char* control : {CONTROL_PAUSE, CONTROL_RESUME, CONTROL_STOP})
        EXPECT_EQ(ControlText(control), std::string(control) + "\n");
}
