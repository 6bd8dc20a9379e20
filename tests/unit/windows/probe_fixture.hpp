#pragma once
// A fresh fake platform for every probe test, and the checks every probe test ends with: no
// handle left open, no handle closed twice or misused.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "diagnostics/registry.hpp"
#include "fake/processes.hpp"
#include "fake/runtime.hpp"

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::reset_processes();
        fake::reset_runtime();
    }

    void TearDown() override {
        EXPECT_EQ(fake::open_handles(), 0u) << "a handle was left open";
        EXPECT_THAT(fake::violations(), ::testing::IsEmpty());
    }

    static void enable_diagnostics() {
        fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1");
    }

    // Calls recorded so far under `name` on this thread; the registry outlives each test, so
    // tests compare counts before and after.
    static std::uint64_t recorded_calls(std::string_view name) {
        diagnostics::RegistryReader reader;
        const diagnostics::FunctionStats* row = reader.find(name);
        return row == nullptr ? 0 : row->calls;
    }
};
