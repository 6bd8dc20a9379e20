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

// A reading whose open told that the process the ID named before has been reaped since.
Outcome found_after_reaping(std::uint64_t creation, double user_ms, platform::Instant at) {
    Outcome outcome = found(creation, user_ms, 0.0, at);
    outcome.value().earlier_process_gone = true;
    return outcome;
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
        {"reaped in between, the ID taken in the same clock tick: another process",
         {found(created, 0.0, 0.0, {10, 0}), found_after_reaping(created, 0.0, {10, 5'000'000}),
          found(created, 100.0, 0.0, {11, 5'000'000})},
         {std::nullopt, std::nullopt, 10.0}},
    };
    for (const Case& c : cases) {
        // A minute, so that the cases of the forget time stay short.
        rows::EarlierReadings earlier{60};
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
    rows::EarlierReadings earlier{60};
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
    rows::EarlierReadings two{60};
    (void)two.cpu_percent(1, found(created, 0.0, 0.0, {0, 0}));
    (void)two.cpu_percent(2, found(created, 0.0, 0.0, {30, 0}));
    (void)two.cpu_percent(3, found(created, 0.0, 0.0, {59, 999'999'999}));
    EXPECT_EQ(two.size(), 3u);
    (void)two.cpu_percent(3, found(created, 0.0, 0.0, {61, 0}));
    EXPECT_EQ(two.size(), 2u);
    (void)two.cpu_percent(3, found(created, 0.0, 0.0, {119, 999'999'999}));
    EXPECT_EQ(two.size(), 1u);
}

// Unless the session is told otherwise, a monitor that reads every five minutes gets a
// percentage; the caller's time, from a second to a day, counts the same way.
TEST(CpuPercent, AReadingIsKeptForTheTimeTheCallerChose) {
    const struct {
        const char* name;
        std::optional<std::uint64_t> forget_after;  // nullopt: the default
        platform::Instant second_reading;
        std::optional<double> percent;
    } cases[] = {
        {"the default, five minutes apart", std::nullopt, {300, 0}, 1.0},
        {"the default, just under ten minutes", std::nullopt, {599, 999'999'999}, 0.5},
        {"the default, ten minutes apart", std::nullopt, {600, 0}, std::nullopt},
        {"a second, just under it", 1, {0, 999'999'000}, 0.3},
        {"a second, a second apart", 1, {1, 0}, std::nullopt},
        {"a day, just under it", 86'400, {86'399, 0}, 3000.0 / 86'399 * 100 / 1000},
        {"a day, a day apart", 86'400, {86'400, 0}, std::nullopt},
    };
    for (const auto& c : cases) {
        rows::EarlierReadings earlier = c.forget_after ? rows::EarlierReadings{*c.forget_after}
                                                       : rows::EarlierReadings{};
        const double cpu_ms = c.forget_after == 1 ? 3.0 : 3000.0;
        EXPECT_EQ(earlier.cpu_percent(7, found(created, 0.0, 0.0, {0, 0})), std::nullopt) << c.name;
        const auto percent = earlier.cpu_percent(7, found(created, cpu_ms, 0.0, c.second_reading));
        ASSERT_EQ(percent.has_value(), c.percent.has_value()) << c.name;
        if (percent) {
            EXPECT_NEAR(*percent, *c.percent, 1e-3) << c.name;
        }
    }
}

// However long the forget time, a session remembers a bounded number of processes: when that
// many are remembered a new one is not, until some are forgotten.
TEST(CpuPercent, AtMostTheBoundOfProcessesIsRemembered) {
    rows::EarlierReadings earlier{600, 3};
    for (std::uint32_t pid = 1; pid <= 3; ++pid) {
        (void)earlier.cpu_percent(pid, found(created, 0.0, 0.0, {10, 0}));
    }
    EXPECT_EQ(earlier.cpu_percent(4, found(created, 0.0, 0.0, {10, 0})), std::nullopt);
    EXPECT_EQ(earlier.size(), 3u);
    EXPECT_EQ(earlier.cpu_percent(4, found(created, 100.0, 0.0, {11, 0})), std::nullopt)
        << "not remembered";
    EXPECT_EQ(earlier.cpu_percent(1, found(created, 100.0, 0.0, {11, 0})), 10.0)
        << "those remembered keep their reading";

    // One ends: room for another.
    EXPECT_EQ(earlier.cpu_percent(2, NotFound{}), std::nullopt);
    EXPECT_EQ(earlier.cpu_percent(4, found(created, 200.0, 0.0, {12, 0})), std::nullopt);
    EXPECT_EQ(earlier.cpu_percent(4, found(created, 300.0, 0.0, {13, 0})), 10.0);
    EXPECT_EQ(earlier.size(), 3u);

    // The forget time passes for 1, 3 and 4, read by 13 s at the latest: the sweep of the next
    // reading makes room.
    EXPECT_EQ(earlier.cpu_percent(5, found(created, 0.0, 0.0, {613, 0})), std::nullopt);
    EXPECT_EQ(earlier.size(), 1u);
    EXPECT_EQ(earlier.cpu_percent(5, found(created, 100.0, 0.0, {614, 0})), 10.0);
}

}  // namespace
