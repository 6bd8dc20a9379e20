// The sample rows, byte for byte, and the collection over the fake platform.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "rows/row_text.hpp"
#include "rows/sample_rows.hpp"
#include "support/strict_json.hpp"
#include "unit/platform_test.hpp"

namespace {

using probe::NotFound;
using probe::ProbeError;
using probe::ProbeOutcome;
using probe::ProcessSample;

ProcessSample reading(double user_ms, double system_ms) {
    return ProcessSample{.peak_bytes = 8192,
                         .peak_source = "system",
                         .cpu_user_ms = user_ms,
                         .cpu_system_ms = system_ms,
                         .rss_bytes = 4096,
                         .window_ms = 0,
                         .creation_ticks = std::nullopt,
                         .read_at = {}};
}

struct RowCase {
    ProbeOutcome<ProcessSample> outcome;
    std::string written;
    std::optional<double> cpu_percent = std::nullopt;
};

std::string written_row(std::uint32_t pid, const ProbeOutcome<ProcessSample>& outcome,
                        std::optional<double> cpu_percent = std::nullopt) {
    std::string out;
    rows::write_row(out, rows::SampleRow{pid, outcome, cpu_percent});
    return out;
}

// The one-shot's rows of `pids`, as the document's writer collects them.
json::WrittenArray collect(platform::Processes& processes, const std::vector<std::uint32_t>& pids) {
    rows::WrittenRows written;
    rows::sample(processes, pids, written);
    return std::move(written).take_rows();
}

TEST(SampleRowTest, WritesEveryStatusExactly) {
    const std::vector<RowCase> cases{
        {reading(15.625, 31.25),
         R"({"cpuPercent":null,"cpuSystemMs":31.25,"cpuUserMs":15.625,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":42,"rssBytes":4096,)"
         R"("status":"found","systemPeakBytes":8192,"unavailable":null})"},
        {reading(0.0, 0.0),
         R"({"cpuPercent":null,"cpuSystemMs":0.0,"cpuUserMs":0.0,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":42,"rssBytes":4096,)"
         R"("status":"found","systemPeakBytes":8192,"unavailable":null})"},
        {reading(12 / 10000.0, 15625 / 10000.0),
         R"({"cpuPercent":null,"cpuSystemMs":1.5625,"cpuUserMs":0.0012,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":42,"rssBytes":4096,)"
         R"("status":"found","systemPeakBytes":8192,"unavailable":null})"},
        {reading(15.625, 31.25),
         R"({"cpuPercent":12.5,"cpuSystemMs":31.25,"cpuUserMs":15.625,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":42,"rssBytes":4096,)"
         R"("status":"found","systemPeakBytes":8192,"unavailable":null})",
         12.5},
        {reading(0.0, 0.0),
         R"({"cpuPercent":0.0,"cpuSystemMs":0.0,"cpuUserMs":0.0,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":42,"rssBytes":4096,)"
         R"("status":"found","systemPeakBytes":8192,"unavailable":null})",
         0.0},
        // A percentage that is no number is written as a value holding it would be: null.
        {reading(0.0, 0.0),
         R"({"cpuPercent":null,"cpuSystemMs":0.0,"cpuUserMs":0.0,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":42,"rssBytes":4096,)"
         R"("status":"found","systemPeakBytes":8192,"unavailable":null})",
         std::numeric_limits<double>::infinity()},
        {NotFound{},
         R"({"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":42,)"
         R"("rssBytes":null,"status":"not_found","systemPeakBytes":null,)"
         R"("unavailable":"PROCESS_NOT_FOUND"})"},
        {ProbeError{"OPEN_PROCESS"},
         R"({"code":"OPEN_PROCESS","cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,)"
         R"("peak":null,"pid":42,"rssBytes":null,"status":"error","systemPeakBytes":null,)"
         R"("unavailable":"OPEN_PROCESS"})"},
        {ProbeError{"PROCESS_MEMORY"},
         R"({"code":"PROCESS_MEMORY","cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,)"
         R"("peak":null,"pid":42,"rssBytes":null,"status":"error","systemPeakBytes":null,)"
         R"("unavailable":"PROCESS_MEMORY"})"},
    };
    for (const RowCase& c : cases) {
        EXPECT_EQ(written_row(42, c.outcome, c.cpu_percent), c.written);
        // A percentage is only ever given for a found row.
        if (!c.outcome.found()) {
            EXPECT_EQ(written_row(42, c.outcome, 50.0), c.written);
        }
    }
}

TEST(SampleRowTest, KeepsTheLargestCountersAndProcessIds) {
    ProcessSample huge = reading(0.0, 0.0);
    huge.peak_bytes = 18446744073709551615u;
    huge.rss_bytes = 18446744073709551615u;
    huge.window_ms = 18446744073709551615u;
    EXPECT_EQ(written_row(4294967295u, huge),
              R"({"cpuPercent":null,"cpuSystemMs":0.0,"cpuUserMs":0.0,)"
              R"("peak":{"rssBytes":18446744073709551615,"source":"system",)"
              R"("windowMs":18446744073709551615},"pid":4294967295,)"
              R"("rssBytes":18446744073709551615,"status":"found",)"
              R"("systemPeakBytes":18446744073709551615,"unavailable":null})");
}

using CollectTest = testing_support::PlatformTest;

TEST_F(CollectTest, OneRowPerIdInListOrder) {
    fake::process(30);
    fake::process(10).open_fails = fake::always;  // access denied
    const json::WrittenArray written = collect(processes, {30, 20, 10});

    EXPECT_EQ(written.size(), 3u);
    const auto rows = testing_support::read_json(written.text());
    ASSERT_TRUE(rows.has_value()) << written.text();
    ASSERT_EQ(rows->items.size(), 3u);
    const std::vector<std::pair<std::uint64_t, std::string>> expected{
        {30, "found"}, {20, "not_found"}, {10, "error"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rows->items[i].find("pid")->as_unsigned(), expected[i].first);
        EXPECT_EQ(rows->items[i].find("status")->text, expected[i].second);
    }
}

TEST_F(CollectTest, ReadsEachProcessOnceAndFinishesItBeforeTheNext) {
    fake::process(1);
    fake::process(2);
    (void)collect(processes, {1, 2});
    const std::vector<std::string> one_reading{
        "OpenProcess(4096,0,1)",   "GetExitCodeProcess(1)", "GetProcessTimes(1)",
        "GetProcessMemoryInfo(1)", "CloseHandle(1)",        "OpenProcess(4096,0,2)",
        "GetExitCodeProcess(2)",   "GetProcessTimes(2)",    "GetProcessMemoryInfo(2)",
        "CloseHandle(2)"};
    EXPECT_THAT(fake::call_log(), ::testing::ElementsAreArray(one_reading));
}

TEST_F(CollectTest, DiagnosticsCountOneReadingAndOneRowPerId) {
    fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1");
    fake::process(1);
    const std::vector<std::string_view> per_id{"sample::read_sample", "windows::sample",
                                               "sample::row"};
    std::vector<std::uint64_t> before;
    for (auto name : per_id) before.push_back(recorded_calls(name));

    (void)collect(processes, {1, 2, 3});

    for (std::size_t i = 0; i < per_id.size(); ++i) {
        EXPECT_EQ(recorded_calls(per_id[i]) - before[i], 3u) << per_id[i];
    }
}

}  // namespace
