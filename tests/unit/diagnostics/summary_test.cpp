#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "diagnostics/function_rows.hpp"
#include "diagnostics/resources.hpp"
#include "diagnostics/summary.hpp"
#include "diagnostics/timing_scope.hpp"
#include "fresh_thread.hpp"
#include "json/writer.hpp"

namespace {

using namespace diagnostics_test;
using diagnostics::Micros;

constexpr std::uint64_t one_milli = 1'000'000;  // ns

struct ResourceCase {
    const char* label;
    bool memory_fails;
    bool times_fail;
    std::string text;
};

// Switch off, so the resources scope is inert and the clock, moving 1 ms per reading, is read
// for the scope's opening (0), its check (1), "windowMs" (2) and the peak's "windowMs" (3).
TEST_F(DiagnosticsTest, ResourceObjectForEachQueryOutcome) {
    const std::vector<ResourceCase> cases = {
        {"both queries succeed", false, false,
         R"({"cpuPercent":null,"cpuSystemMs":500.0,"cpuUserMs":1562.5,"heapUsedBytes":null,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":3},"rssBytes":4096,)"
         R"("schema":1,"source":"native","unavailable":null,"windowMs":2})"},
        {"memory query fails", true, false,
         R"({"cpuPercent":null,"cpuSystemMs":500.0,"cpuUserMs":1562.5,"heapUsedBytes":null,)"
         R"("peak":null,"rssBytes":null,"schema":1,"source":"native",)"
         R"("unavailable":"WIN32_RESOURCE_QUERY_FAILED","windowMs":2})"},
        {"time query fails", false, true,
         R"({"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"heapUsedBytes":null,)"
         R"("peak":{"rssBytes":8192,"source":"system","windowMs":3},"rssBytes":4096,)"
         R"("schema":1,"source":"native","unavailable":"WIN32_RESOURCE_QUERY_FAILED",)"
         R"("windowMs":2})"},
        {"both fail", true, true,
         R"({"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"heapUsedBytes":null,)"
         R"("peak":null,"rssBytes":null,"schema":1,"source":"native",)"
         R"("unavailable":"WIN32_RESOURCE_QUERY_FAILED","windowMs":2})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fake::reset_runtime();
        fake::reset_processes();
        fake::set_clock_step(one_milli);
        fake::Process& self = fake::self_process();
        self.user_ticks = 15'625'000;
        self.kernel_ticks = 5'000'000;
        self.working_set = 4096;
        self.peak_working_set = 8192;
        if (c.memory_fails) self.memory_fails = fake::always;
        if (c.times_fail) self.times_fail = fake::always;

        const std::string text = on_fresh_thread(
            [] { return json::to_compact(diagnostics::resources(platform::Instant{0, 0})); });

        EXPECT_EQ(text, c.text);
        EXPECT_EQ(fake::calls_named("GetProcessMemoryInfo"), 1u);
        EXPECT_EQ(fake::calls_named("GetProcessTimes"), 1u);
        EXPECT_EQ(fake::open_handles(), 0u);
        EXPECT_TRUE(fake::violations().empty());
    }
}

struct FunctionRowCase {
    Micros total_us;
    Micros max_us;
    std::string text;
};

TEST(FunctionRowTest, MicrosecondsBecomeMillisecondDoubles) {
    const std::vector<FunctionRowCase> cases = {
        {1, 0, R"({"calls":3,"kind":"sync","maxMs":0.0,"name":"x::y","totalMs":0.001})"},
        {1500, 1500, R"({"calls":3,"kind":"sync","maxMs":1.5,"name":"x::y","totalMs":1.5})"},
        {static_cast<Micros>(1) << 64, 2,
         R"({"calls":3,"kind":"sync","maxMs":0.002,"name":"x::y",)"
         R"("totalMs":1.844674407370955e+16})"},
    };
    for (const auto& c : cases) {
        const diagnostics::FunctionStats stats{"x::y", c.total_us, c.max_us, 3};
        EXPECT_EQ(json::to_compact(diagnostics::function_row(stats)), c.text);
    }
}

const json::Value* row_named(const json::Value& functions, std::string_view name) {
    for (const auto& row : functions.items()) {
        if (row.find("name")->as_string() == name) return &row;
    }
    return nullptr;
}

std::uint64_t calls_of(const json::Value& functions, std::string_view name) {
    const json::Value* row = row_named(functions, name);
    return row == nullptr ? 0 : row->find("calls")->as_unsigned();
}

// What the entry does around the summary, on a run that measured a few operations.
json::Value measured_run() {
    const platform::Instant run_start = platform::monotonic_now();
    for (int pid = 0; pid < 3; ++pid) {
        diagnostics::TimingScope outer{"sample::collect"};
        diagnostics::TimingScope inner{"windows::sample"};
    }
    if (!diagnostics::enabled()) return json::Value();
    diagnostics::record_elapsed("main", run_start);
    return diagnostics::summary(run_start);
}

TEST_F(DiagnosticsTest, SummaryOfARunKeepsTheCountRelations) {
    switch_on();
    fake::set_clock_step(7'777);  // ns: times that are not whole microseconds
    fake::self_process().working_set = 1 << 20;
    fake::self_process().peak_working_set = 2 << 20;

    const json::Value diagnostics = on_fresh_thread(measured_run);

    ASSERT_TRUE(diagnostics.is_object());
    ASSERT_EQ(diagnostics.members().size(), 2u);
    const json::Value& functions = *diagnostics.find("functions");
    const auto& rows = functions.items();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.front().find("name")->as_string(), "diagnostics::enabled");
    EXPECT_EQ(rows.back().find("name")->as_string(), "diagnostics::function_rows");
    EXPECT_EQ(rows.back().find("calls")->as_unsigned(), 1u);

    for (const char* once : {"main", "diagnostics::resources", "diagnostics::summary"}) {
        EXPECT_EQ(calls_of(functions, once), 1u) << once;
    }
    EXPECT_EQ(calls_of(functions, "sample::collect"), 3u);
    EXPECT_EQ(calls_of(functions, "diagnostics::enabled"),
              calls_of(functions, "diagnostics::new") + 1);
    EXPECT_EQ(calls_of(functions, "diagnostics::record"),
              calls_of(functions, "diagnostics::drop") + 2);

    std::vector<std::string> names;
    for (const auto& row : rows) {
        names.push_back(row.find("name")->as_string());
        EXPECT_EQ(row.find("kind")->as_string(), "sync");
        EXPECT_TRUE(row.find("totalMs")->is_double());
        EXPECT_TRUE(row.find("maxMs")->is_double());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "one row per name";

    const json::Value& resources = *diagnostics.find("resources");
    EXPECT_TRUE(resources.find("unavailable")->is_null());
    const json::Value& peak = *resources.find("peak");
    EXPECT_GE(peak.find("rssBytes")->as_unsigned(), resources.find("rssBytes")->as_unsigned());
    EXPECT_GE(peak.find("windowMs")->as_unsigned(), resources.find("windowMs")->as_unsigned());
}

TEST_F(DiagnosticsTest, SecondSummaryReplacesItsOwnRowInPlace) {
    switch_on();
    const json::Value second = on_fresh_thread([] {
        diagnostics::summary(platform::Instant{});
        { diagnostics::TimingScope later{"test::later"}; }
        return diagnostics::summary(platform::Instant{});
    });
    const auto& rows = second.find("functions")->items();
    std::vector<std::string> names;
    for (const auto& row : rows) names.push_back(row.find("name")->as_string());
    const auto own = std::find(names.begin(), names.end(), "diagnostics::function_rows");
    ASSERT_NE(own, names.end());
    EXPECT_EQ(std::count(names.begin(), names.end(), "diagnostics::function_rows"), 1);
    EXPECT_NE(names.back(), "diagnostics::function_rows") << "kept at its registry position";
    EXPECT_EQ(rows[own - names.begin()].find("calls")->as_unsigned(), 2u);
}

}  // namespace
