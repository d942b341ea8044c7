// simfixture.h: the GoogleTest fixture for tests that run the product against simulated devices.
// SetUp resets the bed, adds the devices (the default set unless AddDevices is overridden) and
// redirects the test executable's own imports; TearDown removes the redirection and resets the
// bed, so no simulated state or handle survives into the next test.
//
//   TEST_F(SimKsFixture, Something) { ... SimKs_SetClock(SIMKS_CLOCK_UNPACED, 1.0); ... }
//
//   struct OneDevice : SimKsFixture {
//       void AddDevices() override { int d = SimKs_AddDevice(...); ... }
//   };
#pragma once

#include "testbed/redirect.h"

#include <gtest/gtest.h>

class SimKsFixture : public ::testing::Test {
  protected:
    // The device set of each test; runs after the reset, before the redirection.
    virtual void AddDevices() { SimKs_AddDefaultDevices(); }

    void SetUp() override {
        SimKs_Reset();
        AddDevices();
        ASSERT_GT(SimKs_Install(GetModuleHandleA(NULL)), 0);
    }

    void TearDown() override {
        SimKs_Remove(GetModuleHandleA(NULL));
        SimKs_Reset();
    }
};
