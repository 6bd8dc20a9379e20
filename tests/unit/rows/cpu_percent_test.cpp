// The CPU percentage between two readings of one process, and the readings a session forgets.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rows/cpu_percent.hpp"

namespace {

using probe::NotFound;
using probe::ProbeError;
using probe::ProbeOutcome;
using probe::ProcessSample;
using Outcome = ProbeOutcome<ProcessSample>;

constexpr std::uint64_t created = 133'485'000'000'000'000;
constexpr std::uint64_t created_later = created + 10'000'000;

Outcome found(std::uint64_t creation, double user_ms, double system_ms,
              platform::Instant at) {
    ProcessSample reading;
    reading.cpu_user_ms = user_ms;
    reading.cpu_system_ms = system_ms;
    reading.creation_ticks = creation;
    reading.read_at = at;
    return reading;
}

struct Case {
    const char* name;
    std::vector<Outcome> readings;
    std::vector<std::optional<double>> percents;
};

TEST(CpuPercent, OnlyBetweenTwoReadingsOfOneProcess) {
    const std::vector<Case> cases{
        {"a first reading has no rate", {found(created, 5.0, 5.0, {10, 0})}, {std::nullopt}},
        {"half a processor over two seconds",
         {found(created, 100.0, 50.0, {10, 0}), found(created, 700.0, 450.0, {12, 0})},
         {std::nullopt, 50.0}},
        {"user and kernel time both count, beyond one processor",
         {found(created, 0.0, 0.0, {10, 0}), found(created, 1000.0, 2000.0, {11, 0})},
         {std::nullopt, 300.0}},
        {"idle", {found(created, 8.0, 2.0, {10, 0}), found(created, 8.0, 2.0, {13, 0})},
         {std::nullopt, 0.0}},
        {"a second boundary between the readings",
         {found(created, 0.0, 0.0, {5, 900'000'000}), found(created, 60.0, 40.0, {6, 100'000'000})},
         {std::nullopt, 50.0}},
        {"half a millisecond apart",
         {found(created, 0.0, 0.0, {5, 0}), found(created, 0.25, 0.0, {5, 500'000})},
         {std::nullopt, 50.0}},
        {"each reading is the next one's base",
         {found(created, 0.0, 0.0, {10, 0}), found(created, 500.0, 0.0, {11, 0}),
          found(created, 500.0, 1000.0, {15, 0})},
         {std::nullopt, 50.0, 25.0}},
        {"no time elapsed",
         {found(created, 0.0, 0.0, {10, 7}), found(created, 30.0, 0.0, {10, 7})},
         {std::nullopt, std::nullopt}},
        {"a clock that reads earlier",
         {found(created, 0.0, 0.0, {10, 7}), found(created, 30.0, 0.0, {9, 0})},
         {std::nullopt, std::nullopt}},
        {"processor time that shrank",
         {found(created, 50.0, 0.0, {10, 0}), found(created, 40.0, 0.0, {11, 0})},
         {std::nullopt, std::nullopt}},
        {"the ID reused by a later process, then read again",
         {found(created, 1.0, 0.0, {10, 0}), found(created_later, 900.0, 0.0, {11, 0}),
          found(created_later, 1100.0, 0.0, {13, 0})},
         {std::nullopt, std::nullopt, 10.0}},
        {"idle, just under a minute apart",
         {found(created, 3.0, 0.0, {0, 0}), found(created, 3.0, 0.0, {59, 999'999'999})},
         {std::nullopt, 0.0}},
        {"59.5 s apart", {found(created, 0.0, 0.0, {0, 0}), found(created, 5950.0, 0.0, {59, 500'000'000})},
         {std::nullopt, 10.0}},
        {"a minute apart: forgotten",
         {found(created, 0.0, 0.0, {0, 0}), found(created, 600.0, 0.0, {60, 0})},
         {std::nullopt, std::nullopt}},
        {"ended in between: forgotten",
         {found(created, 0.0, 0.0, {10, 0}), NotFound{}, found(created, 200.0, 0.0, {12, 0})},
         {std::nullopt, std::nullopt, std::nullopt}},
        {"an error in between leaves the earlier reading",
         {found(created, 0.0, 0.0, {10, 0}), ProbeError{"PROCESS_MEMORY"},
          found(created, 200.0, 0.0, {12, 0})},
         {std::nullopt, std::nullopt, 10.0}},
        {"a reading without a creation time is no base",
         {found(created, 0.0, 0.0, {10, 0}), ProcessSample{}, found(created, 200.0, 0.0, {12, 0})},
         {std::nullopt, std::nullopt, 10.0}},
    };
    for (const Case& c : cases) {
        rows::EarlierReadings earlier;
        ASSERT_EQ(c.readings.size(), c.percents.size()) << c.name;
        for (std::size_t i = 0; i < c.readings.size(); ++i) {
            EXPECT_EQ(earlier.cpu_percent(42, c.readings[i]), c.percents[i])
                << c.name << ", reading " << i + 1;
        }
    }
}

TEST(CpuPercent, ProcessesAreToldApartByTheirIds) {
    rows::EarlierReadings earlier;
    EXPECT_EQ(earlier.cpu_percent(1, found(created, 0.0, 0.0, {10, 0})), std::nullopt);
    EXPECT_EQ(earlier.cpu_percent(2, found(created, 500.0, 0.0, {10, 0})), std::nullopt);
    EXPECT_EQ(earlier.cpu_percent(1, found(created, 100.0, 0.0, {11, 0})), 10.0);
    EXPECT_EQ(earlier.cpu_percent(2, found(created, 800.0, 0.0, {11, 0})), 30.0);
    EXPECT_EQ(earlier.size(), 2u);
    // Only a process that ended is let go of at once.
    EXPECT_EQ(earlier.cpu_percent(2, NotFound{}), std::nullopt);
    EXPECT_EQ(earlier.cpu_percent(1, ProbeError{"OPEN_PROCESS"}), std::nullopt);
    EXPECT_EQ(earlier.size(), 1u);
}

// A session that meets 100 new processes every second for ten minutes holds only those of the
// last minute, however many it has met.
TEST(CpuPercent, ProcessesNotReadForAMinuteAreForgotten) {
    rows::EarlierReadings earlier;
    constexpr std::uint32_t per_second = 100;
    std::uint32_t next_pid = 1;
    for (std::uint64_t second = 0; second < 600; ++second) {
        for (std::uint32_t i = 0; i < per_second; ++i) {
            (void)earlier.cpu_percent(next_pid++, found(created, 0.0, 0.0, {second, 250'000'000}));
        }
        EXPECT_EQ(earlier.size(), std::min<std::uint64_t>(second + 1, 60) * per_second)
            << "after second " << second;
    }

    // Processes read at 0 s, at 30 s and just under a minute: all three are held then; at
    // 61 s the first is gone, and just under 120 s the second too.
    rows::EarlierReadings two;
    (void)two.cpu_percent(1, found(created, 0.0, 0.0, {0, 0}));
    (void)two.cpu_percent(2, found(created, 0.0, 0.0, {30, 0}));
    (void)two.cpu_percent(3, found(created, 0.0, 0.0, {59, 999'999'999}));
    EXPECT_EQ(two.size(), 3u);
    (void)two.cpu_percent(3, found(created, 0.0, 0.0, {61, 0}));
    EXPECT_EQ(two.size(), 2u);
    (void)two.cpu_percent(3, found(created, 0.0, 0.0, {119, 999'999'999}));
    EXPECT_EQ(two.size(), 1u);
}

}  // namespace
