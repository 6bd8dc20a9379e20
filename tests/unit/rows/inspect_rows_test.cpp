#include "rows/inspect_rows.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "json/writer.hpp"
#include "rows/row_text.hpp"
#include "support/strict_json.hpp"
#include "unit/probe/com_expectations.hpp"

namespace {

using probe::CommandLineMap;
using probe::CommandLineResult;
using probe::ProbeError;

constexpr std::uint32_t pid = 100;

using InspectRows = testing_support::DiagnosedPlatformTest;

const std::string found_row =
    R"({"commandLine":"app.exe --flag","createdAt":"133000000000000000",)"
    R"("executablePath":"C:\\Windows\\System32\\notepad.exe","pid":100,"status":"found"})";

std::string error_row(std::string_view code) {
    return R"({"code":")" + std::string(code) + R"(","pid":100,"status":"error"})";
}

const std::string not_found_row = R"({"pid":100,"status":"not_found"})";

// The rows the row maker hands on for one batch, as the document's writer collects them.
json::WrittenArray rows_of(probe::IdentityList identities, const CommandLineResult& query) {
    rows::WrittenRows written;
    rows::InspectRowMaker{written}.add(std::move(identities), query);
    return std::move(written).take_rows();
}

probe::IdentityList identities_of(platform::Processes& processes,
                                  const std::vector<std::uint32_t>& pids) {
    return probe::collect_identities(processes, pids);
}

// The identity's own outcome wins over the recheck, the recheck over the query's failure, and
// the query's failure over the lookup.
TEST_F(InspectRows, TheOrderOfTheTestsDecidesTheStatus) {
    struct Case {
        const char* name;
        void (*script)(fake::Process&);
        CommandLineResult query;
        std::string row;
    };
    const CommandLineMap has_it{{pid, "app.exe --flag"}};
    const CommandLineResult com_init = ProbeError{codes::com_init};
    const std::vector<Case> cases = {
        {"identity not found, query failed",
         [](fake::Process& p) {
             p.open_fails = fake::always;
             p.open_error = 87;
         },
         com_init, not_found_row},
        {"identity failed, query failed", [](fake::Process& p) { p.open_fails = fake::always; },
         com_init, error_row("OPEN_PROCESS")},
        {"identity path failed", [](fake::Process& p) { p.image_name_fails = fake::always; },
         has_it, error_row("PROCESS_PATH")},
        {"recheck state unreadable",
         [](fake::Process& p) { p.exit_code_fails = fake::from_call(2); }, has_it,
         error_row("PROCESS_STATE")},
        {"recheck times unreadable", [](fake::Process& p) { p.times_fail = fake::from_call(2); },
         com_init, error_row("PROCESS_TIMES")},
        {"creation time changed",
         [](fake::Process& p) {
             p.creation_ticks = {1, 2};
         },
         has_it, error_row("PROCESS_CHANGED")},
        {"ended though the map has it",
         [](fake::Process& p) {
             p.exit_codes = {fake::still_active, 0};
         },
         has_it, not_found_row},
        {"ended and the query failed",
         [](fake::Process& p) {
             p.exit_codes = {fake::still_active, 0};
         },
         com_init, not_found_row},
        {"alive, query failed", [](fake::Process&) {}, ProbeError{codes::wmi_query},
         error_row("WMI_QUERY")},
        {"alive, not returned by the query", [](fake::Process&) {},
         CommandLineMap{{7, "other.exe"}}, error_row("WMI_MISSING")},
        {"alive, empty map", [](fake::Process&) {}, CommandLineMap{}, error_row("WMI_MISSING")},
        {"alive, empty command line", [](fake::Process&) {}, CommandLineMap{{pid, ""}},
         error_row("WMI_COMMAND_LINE")},
        {"alive with its command line", [](fake::Process&) {}, has_it, found_row},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_processes();
        c.script(fake::process(pid));

        const auto rows = rows_of(identities_of(processes, {pid}), c.query);

        EXPECT_EQ(rows.text(), "[" + c.row + "]");
        EXPECT_EQ(fake::open_handles(), 0u);
    }
}

TEST_F(InspectRows, EachHandleClosesRightAfterItsOwnRecheck) {
    for (const std::uint32_t running : {1u, 2u, 3u}) fake::process(running);
    probe::IdentityList identities = identities_of(processes, {1, 2, 3});
    fake::clear_call_log();

    const auto rows =
        rows_of(std::move(identities), CommandLineMap{{1, "a"}, {2, "b"}, {3, "c"}});

    ASSERT_EQ(rows.size(), 3u);
    const std::vector<std::string> expected = {
        "GetExitCodeProcess(1)", "GetProcessTimes(1)", "RunsNotedProgram(1)", "CloseHandle(1)",
        "GetExitCodeProcess(2)", "GetProcessTimes(2)", "RunsNotedProgram(2)", "CloseHandle(2)",
        "GetExitCodeProcess(3)", "GetProcessTimes(3)", "RunsNotedProgram(3)", "CloseHandle(3)"};
    EXPECT_EQ(fake::call_log(), expected);
}

// Each row takes the command line of its own ID, whatever else the map holds and in whatever
// order; an ID the map lacks is missing even when the map holds others.
TEST_F(InspectRows, EachProcessTakesItsOwnCommandLine) {
    for (const std::uint32_t running : {5u, 3u, 9u, 4u}) fake::process(running);
    const CommandLineResult query =
        CommandLineMap{{9, "nine"}, {3, "three"}, {8, "not asked"}, {5, "five"}};

    const auto rows = rows_of(identities_of(processes, {5, 3, 9, 4}), query);

    const auto parsed = testing_support::read_json(rows.text());
    ASSERT_TRUE(parsed.has_value()) << rows.text();
    std::vector<std::string> command_lines;
    for (const auto& row : parsed->items) {
        const auto* code = row.find("code");
        command_lines.push_back(code != nullptr ? code->text : row.find("commandLine")->text);
    }
    EXPECT_EQ(command_lines,
              (std::vector<std::string>{"five", "three", "nine", "WMI_MISSING"}));
}

TEST_F(InspectRows, RowsCarryOnlyTheirOwnKeys) {
    struct Case {
        rows::InspectResult result;
        std::string text;
    };
    const std::vector<Case> cases = {
        {rows::InspectedProcess{"0", "C:\\\xE6\xBC\xA2.exe", "x \"y\""},
         R"({"commandLine":"x \"y\"","createdAt":"0","executablePath":"C:\\)"
         "\xE6\xBC\xA2"
         R"(.exe","pid":4294967295,"status":"found"})"},
        {probe::NotFound{}, R"({"pid":4294967295,"status":"not_found"})"},
        {ProbeError{codes::wmi_duplicate},
         R"({"code":"WMI_DUPLICATE","pid":4294967295,"status":"error"})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json::to_compact(rows::row(4294967295u, c.result)), c.text);
    }
}

TEST_F(InspectRows, ScopeCountsPerEntry) {
    fake::process(1);                                  // found, rechecked
    fake::process(2).times_fail = fake::from_call(2);  // recheck stops before times
    fake::process(3).open_fails = fake::always;        // identity error
    probe::IdentityList identities = identities_of(processes, {1, 2, 3, 4});
    const testing_support::ScopeCounts counts{
        {"row", "windows::alive_and_same", "windows::drop_handle", "windows::filetime"}};

    rows_of(std::move(identities), CommandLineMap{{1, "a"}});

    EXPECT_EQ(counts.since("row"), 4u);
    EXPECT_EQ(counts.since("windows::alive_and_same"), 2u);
    EXPECT_EQ(counts.since("windows::drop_handle"), 2u);
    EXPECT_EQ(counts.since("windows::filetime"), 1u);
}

}  // namespace
