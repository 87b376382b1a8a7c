#pragma once
// A suite whose cases run the FFmpeg libraries: they are bound before every case, and a case
// does not run when they cannot be.

#include "binding/AVLibs.h"

#include <gtest/gtest.h>

namespace mobivert::test {

class LibrariesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true))
            << mobivert::binding::AVLibsLastError();
    }
};

} // namespace mobivert::test
