// The converter finds its worker program through MOBIVERT_WORKER, or beside the running
// executable, which for the tests is not where the build puts it. CTest names the built worker;
// this names it too when the variable is not set, so that the test program run by hand behaves
// as under CTest.

#include "converter/WorkerProcess.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class WorkerEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv(mobivert::converter::WORKER_ENVIRONMENT, MOBIVERT_WORKER_PROGRAM, 0);
    }
};

const testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new WorkerEnvironment);

} // namespace
