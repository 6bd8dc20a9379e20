#include <gtest/gtest.h>

#include "diagnostics/timing_scope.hpp"
#include "fake/runtime.hpp"
#include "fresh_thread.hpp"

namespace {

using namespace diagnostics_test;
using diagnostics::FunctionStats;
using diagnostics::Micros;

constexpr std::uint64_t one_micro = 1000;  // ns

struct ExpectedRow {
    std::string_view name;
    std::uint64_t total_us;
    std::uint64_t max_us;
    std::uint64_t calls;
};

void expect_rows(const std::vector<FunctionStats>& rows, const std::vector<ExpectedRow>& expected) {
    ASSERT_EQ(names_of(rows).size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(std::string(expected[i].name));
        EXPECT_EQ(rows[i].name, expected[i].name);
        EXPECT_TRUE(rows[i].total_us == expected[i].total_us);
        EXPECT_TRUE(rows[i].max_us == expected[i].max_us);
        EXPECT_EQ(rows[i].calls, expected[i].calls);
    }
}

void inner_operation() { diagnostics::TimingScope scope{"test::inner"}; }

void outer_operation() {
    diagnostics::TimingScope scope{"test::outer"};
    inner_operation();
}

int operation_with_early_return(bool early) {
    diagnostics::TimingScope scope{"test::early"};
    if (early) return -1;
    return 1;
}

// With the clock moving 1 µs per reading, every recorded time is known exactly:
// opening reads at 0, the check at 1 and records from it at 2 and 3, the start is 4 and the
// opening's self-time is read at 5 and 6; closing reads at 7, the elapsed time at 8 (4 µs),
// the record's start at 9 (read back at 10 and 11), and the drop's self-time at 12 and 13.
TEST_F(DiagnosticsTest, OneScopeRecordsItsTimeAndTheFourSelfMeasurements) {
    switch_on();
    fake::set_clock_step(one_micro);
    const auto rows = on_fresh_thread([] {
        { diagnostics::TimingScope scope{"test::op"}; }
        return registry_rows();
    });
    expect_rows(rows, {
                          {"diagnostics::enabled", 1, 2, 1},
                          {"diagnostics::new", 5, 6, 1},
                          {"test::op", 4, 4, 1},
                          {"diagnostics::record", 1, 2, 1},
                          {"diagnostics::drop", 5, 6, 1},
                      });
}

// Three scopes timed with the clock moving 1, 3 and then 2 µs per reading: every row's times
// are the ones above times the step, so each row's largest comes from the second scope, not
// the last, and its total is the sum of all three.
TEST_F(DiagnosticsTest, ScopesOfUnequalLengthsKeepTheLargestTimeOfEachRow) {
    switch_on();
    const auto rows = on_fresh_thread([] {
        for (const std::uint64_t step : {1, 3, 2}) {
            fake::set_clock_step(step * one_micro);
            diagnostics::TimingScope scope{"test::op"};
        }
        return registry_rows();
    });
    expect_rows(rows, {
                          {"diagnostics::enabled", 6, 6, 3},
                          {"diagnostics::new", 30, 18, 3},
                          {"test::op", 24, 12, 3},
                          {"diagnostics::record", 6, 6, 3},
                          {"diagnostics::drop", 30, 18, 3},
                      });
}

TEST_F(DiagnosticsTest, InnerScopeRowStandsBeforeItsOuterScope) {
    switch_on();
    const auto rows = on_fresh_thread([] {
        outer_operation();
        outer_operation();
        return registry_rows();
    });
    EXPECT_EQ(names_of(rows),
              (std::vector<std::string_view>{"diagnostics::enabled", "diagnostics::new",
                                             "test::inner", "diagnostics::record",
                                             "diagnostics::drop", "test::outer"}));
    for (const auto& row : rows) {
        const std::uint64_t per_pass = row.name == "diagnostics::record" ||
                                               row.name == "diagnostics::drop" ||
                                               row.name == "diagnostics::enabled" ||
                                               row.name == "diagnostics::new"
                                           ? 2
                                           : 1;
        EXPECT_EQ(row.calls, 2 * per_pass) << row.name;
    }
}

TEST_F(DiagnosticsTest, EveryReturnPathRecordsAndResultsDoNotChange) {
    switch_on();
    const auto [results, rows] = on_fresh_thread([] {
        std::vector<int> results{operation_with_early_return(true),
                                 operation_with_early_return(false)};
        return std::pair(results, registry_rows());
    });
    EXPECT_EQ(results, (std::vector<int>{-1, 1}));
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[2].name, "test::early");
    EXPECT_EQ(rows[2].calls, 2u);
}

TEST_F(DiagnosticsTest, ScopeUnderOneMicrosecondCountsACallOfZero) {
    switch_on();
    // ns: the start and the elapsed reading stand four readings apart, 800 ns
    fake::set_clock_step(200);
    const auto rows = on_fresh_thread([] {
        { diagnostics::TimingScope scope{"test::quick"}; }
        return registry_rows();
    });
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].name, "test::quick");
    EXPECT_EQ(rows[2].calls, 1u);
    EXPECT_TRUE(rows[2].total_us == 0);
}

// The opening's reading and the check's: a scope that records nothing reads no clock to close.
TEST_F(DiagnosticsTest, SwitchOffLeavesScopesInertAtTwoClockReadings) {
    fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "TRUE");
    const auto rows = on_fresh_thread([] {
        outer_operation();
        return registry_rows();
    });
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(fake::environment_reads(), 2u);
    EXPECT_EQ(fake::clock_readings(), 2u * 2u);
}

TEST_F(DiagnosticsTest, ActiveScopeRecordsEvenIfTheSwitchTurnsOffBeforeItCloses) {
    switch_on();
    const auto rows = on_fresh_thread([] {
        {
            diagnostics::TimingScope scope{"test::op"};
            fake::unset_environment_variable("ZUL_DIAGNOSTICS_ENABLED");
        }
        return registry_rows();
    });
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].name, "test::op");
}

struct RecordCase {
    Micros micros;
    Micros total_after;
    Micros max_after;
};

TEST_F(DiagnosticsTest, RecordSumsTotalsAndRaisesTheMaximumOnlyWhenLarger) {
    const Micros beyond_64_bits = static_cast<Micros>(1) << 70;
    const std::vector<RecordCase> steps = {
        {5, 5, 5},
        {3, 8, 5},
        {5, 13, 5},
        {7, 20, 7},
        {0, 20, 7},
        {beyond_64_bits, beyond_64_bits + 20, beyond_64_bits},
        {beyond_64_bits, 2 * beyond_64_bits + 20, beyond_64_bits},
    };
    const auto history = on_fresh_thread([&steps] {
        std::vector<FunctionStats> after_each;
        // Two names from two "operations": rows are told apart by content, not by address.
        const char first[] = "test::same";
        for (const auto& step : steps) {
            diagnostics::record("test::same", step.micros);
            after_each.push_back(registry_rows().front());
        }
        diagnostics::record(std::string_view(first, 10), 1);
        after_each.push_back(registry_rows().front());
        after_each.push_back(FunctionStats{"rows", 0, 0, registry_rows().size()});
        return after_each;
    });
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_TRUE(history[i].total_us == steps[i].total_after) << "step " << i;
        EXPECT_TRUE(history[i].max_us == steps[i].max_after) << "step " << i;
        EXPECT_EQ(history[i].calls, i + 1);
    }
    EXPECT_EQ(history[steps.size()].calls, steps.size() + 1);
    EXPECT_EQ(history.back().calls, 1u) << "one row for the name";
}

TEST(DiagnosticsDeathTest, RecordingWhileTheRegistryIsReadIsAFault) {
    EXPECT_DEATH(
        {
            fake::echo_stream(platform::Stream::err);
            const diagnostics::RegistryReader reader;
            diagnostics::record("test::reentrant", 1);
        },
        "diagnostics registry re-entered\n");
}

}  // namespace
