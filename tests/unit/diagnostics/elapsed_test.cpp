#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "diagnostics/elapsed.hpp"

namespace {

using diagnostics::Micros;

struct ElapsedCase {
    const char* label;
    platform::Instant start;
    platform::Instant end;
    Micros micros;
};

TEST(ElapsedTest, WholeMicrosecondsTruncatedAndNeverNegative) {
    constexpr std::uint64_t max_seconds = std::numeric_limits<std::uint64_t>::max();
    const std::vector<ElapsedCase> cases = {
        {"same reading", {5, 100}, {5, 100}, 0},
        {"999 ns is dropped", {5, 0}, {5, 999}, 0},
        {"1000 ns", {5, 0}, {5, 1000}, 1},
        {"borrow from seconds", {1, 500}, {2, 499}, 999'999},
        {"whole seconds", {1, 0}, {3, 1'500}, 2'000'001},
        {"clock reads earlier", {10, 0}, {9, 999'999'999}, 0},
        {"earlier within a second", {10, 500}, {10, 499}, 0},
        {"beyond 64 bits", {0, 0}, {max_seconds, 999'999'999},
         static_cast<Micros>(max_seconds) * 1'000'000u + 999'999u},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(diagnostics::micros_between(c.start, c.end) == c.micros) << c.label;
    }
}

}  // namespace
