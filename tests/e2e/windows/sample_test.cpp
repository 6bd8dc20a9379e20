// `sample` against real Windows processes.

#include <gtest/gtest.h>

#include "launch.hpp"
#include "support/strict_json.hpp"
#include "tool_output.hpp"

namespace e2e {
namespace {

// No process has this ID: Windows hands out multiples of four, far below it.
constexpr DWORD unused_pid = 0x7FFFFFF0u;

std::wstring decimal(DWORD pid) { return std::to_wstring(pid); }

TEST(WindowsSample, LiveProcessIsFoundAndItsAliasesAreNot) {
    auto target = start_probe_target({L"wait"});
    ASSERT_TRUE(target);
    const DWORD pid = target->pid();

    // Windows ignores the low two bits of a PID: pid + 1 to + 3 would open the same process.
    const ToolRun run = run_tool(
        {L"sample", decimal(pid), decimal(pid + 1), decimal(pid + 2), decimal(pid + 3)});

    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    const auto found = found_sample_row(run.out, pid);
    ASSERT_TRUE(found) << run.out;
    EXPECT_GT(found->rss_bytes, 0u);
    EXPECT_EQ(found->system_peak_bytes, found->peak_rss_bytes);
    EXPECT_GE(found->system_peak_bytes, found->rss_bytes);
    const std::string aliases = not_found_sample_row(pid + 1) + "," +
                                not_found_sample_row(pid + 2) + "," +
                                not_found_sample_row(pid + 3) + "]}\n";
    EXPECT_TRUE(run.out.starts_with(R"({"samples":[{)")) << run.out;
    EXPECT_TRUE(run.out.ends_with("," + aliases)) << run.out;
}

TEST(WindowsSample, MissingDeniedAndExitedProcessesGetTheirRows) {
    auto denied = start_probe_target({L"protect"});
    ASSERT_TRUE(denied);
    if (!denied_to_us(*denied)) {
        GTEST_SKIP() << "this account opens even a process that denies everyone";
    }
    // The test keeps the handle of the ended child, so its process object (and PID) remains.
    auto exited = start_probe_target({L"exit", L"0"});
    ASSERT_TRUE(exited);
    ASSERT_TRUE(exited->wait_for_end());

    // The denied process's three aliases: opening them is an attempt on it, refused as well,
    // yet none of them is a process.
    const DWORD base = denied->pid();
    const ToolRun run =
        run_tool({L"sample", decimal(unused_pid), decimal(base), decimal(base + 1),
                  decimal(base + 2), decimal(base + 3), decimal(exited->pid())});

    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, R"({"samples":[)" + not_found_sample_row(unused_pid) + "," +
                           error_sample_row(base, "OPEN_PROCESS") + "," +
                           not_found_sample_row(base + 1) + "," +
                           not_found_sample_row(base + 2) + "," +
                           not_found_sample_row(base + 3) + "," +
                           not_found_sample_row(exited->pid()) + "]}\n");
}

TEST(WindowsSample, DiagnosticsComeFirstAndMeasureTheToolItself) {
    const ToolRun run = run_tool({L"sample", decimal(unused_pid)},
                                 ToolOptions{.environment = {L"ZUL_DIAGNOSTICS_ENABLED=1"}});

    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_TRUE(testing_support::read_json_line(run.out)) << run.out;
    EXPECT_TRUE(run.out.starts_with(R"({"diagnostics":{"functions":[)")) << run.out;
    EXPECT_TRUE(run.out.ends_with(R"(,"samples":[)" + not_found_sample_row(unused_pid) + "]}\n"))
        << run.out;
    // Both of the tool's own queries work on Windows.
    EXPECT_NE(run.out.find(R"("source":"native","unavailable":null,"windowMs":)"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(R"("peak":{"rssBytes":)"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace e2e
