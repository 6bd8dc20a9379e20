#pragma once
// The fixture of every test that runs code over the fake platform: a fresh fake for each test,
// and the checks each test ends with — no process handle left open or misused, every COM
// object released, every BSTR freed, every VARIANT cleared and COM uninitialised.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "diagnostics/registry.hpp"
#include "fake/com.hpp"
#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "platform/platform.hpp"

namespace testing_support {

inline void expect_handles_released() {
    EXPECT_EQ(fake::open_handles(), 0u) << "a handle was left open";
    EXPECT_TRUE(fake::violations().empty()) << fake::violations().front();
}

inline void expect_com_balanced() {
    const fake::ComCounters& counters = fake::com_counters();
    EXPECT_EQ(counters.live_objects, 0) << "COM objects left unreleased";
    EXPECT_EQ(counters.live_bstrs, 0) << "BSTRs left unfreed";
    EXPECT_EQ(counters.variants_filled, counters.variants_cleared) << "VARIANTs left uncleared";
    EXPECT_EQ(counters.initializations, counters.uninitializations) << "COM left initialised";
    EXPECT_TRUE(fake::com_violations().empty()) << fake::com_violations().front();
}

// Calls recorded under a scope name so far on this thread. The registry outlives each test, so
// tests compare counts before and after.
inline std::uint64_t recorded_calls(std::string_view name) {
    const diagnostics::RegistryReader reader;
    const diagnostics::FunctionStats* row = reader.find(name);
    return row == nullptr ? 0 : row->calls;
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset_processes();
        fake::reset_runtime();
        fake::reset_com();
    }

    void TearDown() override {
        expect_handles_released();
        expect_com_balanced();
    }

    static void enable_diagnostics() {
        fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1");
    }

    static std::uint64_t recorded_calls(std::string_view name) {
        return testing_support::recorded_calls(name);
    }

    // What the code under test reads processes through, as a run owns it.
    platform::Processes processes;
};

// PlatformTest with the diagnostics switch on, for tests that count scope calls.
class DiagnosedPlatformTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        enable_diagnostics();
    }
};

}  // namespace testing_support
