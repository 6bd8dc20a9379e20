#include "probe/inspect.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake/com.hpp"
#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "json/writer.hpp"
#include "rows/inspect_rows.hpp"
#include "rows/row_text.hpp"
#include "support/strict_json.hpp"
#include "unit/probe/com_expectations.hpp"

namespace {

using testing_support::expect_com_balanced;

using Inspect = testing_support::DiagnosedPlatformTest;

using testing_support::JsonNode;

// The rows as the strict reader reads their text; none when it is not exactly the writer's.
std::vector<JsonNode> read_rows(const json::WrittenArray& rows) {
    std::optional<JsonNode> read = testing_support::read_json(rows.text());
    EXPECT_TRUE(read.has_value()) << rows.text();
    return read ? read->items : std::vector<JsonNode>{};
}

std::vector<std::string> statuses(const json::WrittenArray& rows) {
    std::vector<std::string> found;
    for (const JsonNode& row : read_rows(rows)) {
        const JsonNode* code = row.find("code");
        found.push_back(code != nullptr ? code->text : row.find("status")->text);
    }
    return found;
}

std::vector<std::uint32_t> pids_of(const json::WrittenArray& rows) {
    std::vector<std::uint32_t> found;
    for (const JsonNode& row : read_rows(rows)) {
        found.push_back(static_cast<std::uint32_t>(row.find("pid")->as_unsigned()));
    }
    return found;
}

// The rows of inspect, as the document's writer collects them.
json::WrittenArray inspect(platform::Processes& processes, const std::vector<std::uint32_t>& pids) {
    rows::WrittenRows written;
    rows::InspectRowMaker maker{written};
    probe::inspect(processes, pids, maker);
    return std::move(written).take_rows();
}

TEST_F(Inspect, NothingFoundMeansNoComAtAll) {
    fake::process(8).open_fails = fake::always;
    fake::process(9).exit_codes = {0};
    const testing_support::ScopeCounts counts{{"inspect", "windows::command_lines"}};

    const auto rows = inspect(processes, {7, 8, 9});

    EXPECT_EQ(statuses(rows), (std::vector<std::string>{"not_found", "OPEN_PROCESS", "not_found"}));
    EXPECT_TRUE(fake::com_record().calls.empty());
    EXPECT_EQ(counts.since("inspect"), 1u);
    EXPECT_EQ(counts.since("windows::command_lines"), 0u);
}

TEST_F(Inspect, OneQueryForTheFoundProcessesWithTheirHandlesOpen) {
    fake::process(30);
    fake::process(10);
    fake::process(20).open_fails = fake::always;
    // The service answers in its own order; the rows keep the order asked.
    fake::com_script().next_steps = {fake::process_object(30, u"thirty"),
                                     fake::process_object(10, u"ten")};
    std::size_t open_during_query = 0;
    fake::com_script().during_query = [&] { open_during_query = fake::open_handles(); };
    const testing_support::ScopeCounts counts{{"inspect", "windows::command_lines"}};

    const auto rows = inspect(processes, {30, 20, 40, 10});

    EXPECT_EQ(fake::com_record().query_texts,
              std::vector<std::u16string>{u"SELECT ProcessId, CommandLine FROM Win32_Process WHERE "
                                          u"ProcessId=30 OR ProcessId=10"});
    EXPECT_EQ(open_during_query, 2u);
    EXPECT_EQ(pids_of(rows), (std::vector<std::uint32_t>{30, 20, 40, 10}));
    EXPECT_EQ(statuses(rows),
              (std::vector<std::string>{"found", "OPEN_PROCESS", "not_found", "found"}));
    EXPECT_EQ(read_rows(rows).at(0).find("commandLine")->text, "thirty");
    EXPECT_EQ(read_rows(rows).at(3).find("commandLine")->text, "ten");
    EXPECT_EQ(counts.since("inspect"), 1u);
    EXPECT_EQ(counts.since("windows::command_lines"), 1u);
    EXPECT_EQ(fake::calls_named("OpenProcess"), 4u) << "each process is opened once";
}

TEST_F(Inspect, AFailedQueryReachesOnlyTheRowsThatNeedACommandLine) {
    struct Case {
        const char* name;
        void (*script)(fake::ComScript&);
        std::string code;
    };
    const std::vector<Case> cases = {
        {"query", [](fake::ComScript& s) { s.exec_query = platform::wbem_e_invalid_query; },
         "WMI_QUERY"},
        {"com", [](fake::ComScript& s) { s.co_initialize = platform::rpc_e_changed_mode; },
         "COM_INIT"},
        {"locator", [](fake::ComScript& s) { s.create_locator = platform::e_fail; }, "WMI_LOCATOR"},
        // One null command line spoils every row that needs one, not only its own.
        {"null command line",
         [](fake::ComScript& s) {
             s.next_steps = {fake::process_object(1, u"one"),
                             fake::process_object(2, fake::vt_null())};
         },
         "WMI_COMMAND_LINE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_processes();
        fake::reset_com();
        fake::process(1);
        fake::process(2);
        fake::process(3).exit_codes = {fake::still_active, 0};  // ends before its row
        fake::process(4).image_name_fails = fake::always;
        c.script(fake::com_script());

        const auto rows = inspect(processes, {1, 2, 3, 4, 5});

        EXPECT_EQ(statuses(rows), (std::vector<std::string>{c.code, c.code, "not_found",
                                                            "PROCESS_PATH", "not_found"}));
        expect_com_balanced();
        EXPECT_EQ(fake::open_handles(), 0u);
    }
}

TEST_F(Inspect, AProcessThatEndsBeforeItsRowIsNotFoundWhateverTheQuerySaid) {
    fake::process(5).exit_codes = {fake::still_active, 0};
    fake::process(6);
    fake::com_script().next_steps = {fake::process_object(5, u"five"),
                                     fake::process_object(6, u"six")};

    const auto rows = inspect(processes, {5, 6});

    EXPECT_TRUE(rows.text().starts_with(R"([{"pid":5,"status":"not_found"},)")) << rows.text();
    EXPECT_EQ(statuses(rows)[1], "found");
}

}  // namespace
