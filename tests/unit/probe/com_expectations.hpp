#pragma once
// Shared checks for tests that drive the fake COM and process platform.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fake/com.hpp"
#include "unit/platform_test.hpp"

namespace testing_support {

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

struct ScopeCounts {
    explicit ScopeCounts(std::vector<std::string_view> names) : names_(std::move(names)) {
        for (const std::string_view name : names_) before_.push_back(recorded_calls(name));
    }

    // Calls of `name` since construction.
    std::uint64_t since(std::string_view name) const {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == name) return recorded_calls(name) - before_[i];
        }
        ADD_FAILURE() << "scope not watched: " << name;
        return 0;
    }

private:
    std::vector<std::string_view> names_;
    std::vector<std::uint64_t> before_;
};

}  // namespace testing_support
