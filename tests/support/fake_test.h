// The fixture of core tests against the fake platform: an empty machine and a fresh check run.
#ifndef QORVALIN_FAKE_TEST_H
#define QORVALIN_FAKE_TEST_H

#include "tests/support/fake.h"
#include "verdict/verdict.h"

#include <gtest/gtest.h>

struct FakeTest : ::testing::Test {
    void SetUp() override
    {
        SimReset();
        ResetCheckRun();
    }
    // The icon frames of one test must not reach the next.
    void TearDown() override { ResetCheckRun(); }
};

#endif
