#pragma once
// Shared checks for tests that drive the fake COM and process platform.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/registry.hpp"
#include "fake/com.hpp"
#include "fake/processes.hpp"

namespace testing_support {

// Everything COM handed out was given back exactly once, and nothing was misused.
inline void expect_com_balanced() {
    const fake::ComCounters& counters = fake::com_counters();
    EXPECT_EQ(counters.live_objects, 0) << "COM objects left unreleased";
    EXPECT_EQ(counters.live_bstrs, 0) << "BSTRs left unfreed";
    EXPECT_EQ(counters.variants_filled, counters.variants_cleared) << "VARIANTs left uncleared";
    EXPECT_EQ(counters.initializations, counters.uninitializations) << "COM left initialised";
    EXPECT_TRUE(fake::com_violations().empty()) << fake::com_violations().front();
}

// The releases in the order they happened, e.g. {"Release(class object)", "Release(locator)"}.
inline std::vector<std::string> releases() {
    std::vector<std::string> found;
    for (const std::string& call : fake::com_record().calls) {
        if (call.starts_with("Release(")) found.push_back(call);
    }
    return found;
}

inline std::size_t com_calls_named(std::string_view name) {
    std::size_t count = 0;
    for (const std::string& call : fake::com_record().calls) count += call == name ? 1 : 0;
    return count;
}

// Calls recorded under a scope name so far on this thread; tests compare before and after.
inline std::uint64_t scope_calls(std::string_view name) {
    const diagnostics::RegistryReader reader;
    const diagnostics::FunctionStats* row = reader.find(name);
    return row == nullptr ? 0 : row->calls;
}

struct ScopeCounts {
    explicit ScopeCounts(std::vector<std::string_view> names) : names_(std::move(names)) {
        for (const std::string_view name : names_) before_.push_back(scope_calls(name));
    }

    // Calls of `name` since construction.
    std::uint64_t since(std::string_view name) const {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == name) return scope_calls(name) - before_[i];
        }
        ADD_FAILURE() << "scope not watched: " << name;
        return 0;
    }

private:
    std::vector<std::string_view> names_;
    std::vector<std::uint64_t> before_;
};

}  // namespace testing_support
