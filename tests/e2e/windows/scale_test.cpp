// As many process IDs as a command line can carry (Windows caps it at 32,767 UTF-16 units, so
// some 6,000 IDs here; ten thousand cannot reach a Windows program), with live processes
// among them: both commands print one row per ID, in order.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "launch.hpp"
#include "support/strict_json.hpp"
#include "tool_output.hpp"

namespace e2e {
namespace {

constexpr std::size_t command_line_room = 32767 - 1;  // units, without the terminating null
constexpr int live_targets = 4;

struct IdList {
    std::vector<std::wstring> arguments;  // the command word, then the IDs
    std::vector<DWORD> pids;
    std::vector<bool> live;
};

// Fills the command line with IDs that are not multiples of four, which no process has (an ID
// with its low bits set opens the process below it, and the tool answers not_found for it),
// and puts the live PIDs among them at even spacing.
IdList fill_command_line(const wchar_t* command, const std::vector<DWORD>& live_pids) {
    IdList run;
    run.arguments.push_back(command);
    std::size_t length = command_line(tool_path(), run.arguments).size();
    for (const DWORD pid : live_pids) length += 1 + std::to_wstring(pid).size();
    for (DWORD id = 1; length + 1 + std::to_wstring(id).size() <= command_line_room; ++id) {
        if (id % 4 == 0) continue;
        run.pids.push_back(id);
        run.live.push_back(false);
        length += 1 + std::to_wstring(id).size();
    }
    const std::size_t spacing = run.pids.size() / (live_pids.size() + 1);
    for (std::size_t i = 0; i < live_pids.size(); ++i) {
        const auto at = static_cast<std::ptrdiff_t>((i + 1) * spacing + i);
        run.pids.insert(run.pids.begin() + at, live_pids[i]);
        run.live.insert(run.live.begin() + at, true);
    }
    for (const DWORD pid : run.pids) run.arguments.push_back(std::to_wstring(pid));
    return run;
}

// The rows under the document's one key, when the output is one strict line holding only it.
const testing_support::JsonNode* rows_of(const std::optional<testing_support::JsonNode>& document,
                                         const char* key) {
    if (!document || document->members.size() != 1) return nullptr;
    const testing_support::JsonNode* rows = document->find(key);
    return rows != nullptr && rows->kind == testing_support::JsonNode::Kind::array ? rows
                                                                                   : nullptr;
}

// The "pid" values of the rows, in order.
std::vector<DWORD> row_pids(const testing_support::JsonNode& rows) {
    std::vector<DWORD> pids;
    for (const testing_support::JsonNode& row : rows.items) {
        const testing_support::JsonNode* pid = row.find("pid");
        pids.push_back(pid != nullptr ? static_cast<DWORD>(pid->as_unsigned()) : 0);
    }
    return pids;
}

std::size_t occurrences(const std::string& text, const std::string& word) {
    std::size_t count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++count;
    }
    return count;
}

// A live process's row: found; in inspect also the error of a query that gave no command line,
// as Wine's service gives none for another process (Windows gives them all).
bool found_sample(const std::string& document, DWORD pid) {
    return found_sample_row(document, pid).has_value();
}

bool found_or_without_command_line(const std::string& document, DWORD pid) {
    const std::string row_end = "\"pid\":" + std::to_string(pid) + ",\"status\":";
    return document.find(row_end + "\"found\"}") != std::string::npos ||
           document.find(R"({"code":"WMI_COMMAND_LINE",)" + row_end + "\"error\"}") !=
               std::string::npos;
}

struct ScaleCase {
    const char* name;
    const wchar_t* command;
    const char* array_key;
    std::string (*not_found_row)(std::uint32_t pid);
    bool (*live_row_is_right)(const std::string& document, DWORD pid);
};

// Keeps ctest's test names short: the command, not the bytes of the case.
void PrintTo(const ScaleCase& c, std::ostream* out) { *out << c.name; }

class WindowsScale : public ::testing::TestWithParam<ScaleCase> {
protected:
    void SetUp() override {
        for (int i = 0; i < live_targets; ++i) {
            auto target = start_probe_target({L"wait"});
            ASSERT_TRUE(target);
            live_pids_.push_back(target->pid());
            targets_.push_back(std::move(*target));
        }
    }

    std::vector<Child> targets_;
    std::vector<DWORD> live_pids_;
};

TEST_P(WindowsScale, OneRowPerIdInOrder) {
    const ScaleCase& c = GetParam();
    const IdList ids = fill_command_line(c.command, live_pids_);
    ASSERT_GT(ids.pids.size(), 5000u);
    const ToolRun run = run_tool(ids.arguments);

    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    const auto document = testing_support::read_json_line(run.out);
    const testing_support::JsonNode* rows = rows_of(document, c.array_key);
    ASSERT_TRUE(rows != nullptr) << run.out.substr(0, 200);
    EXPECT_EQ(row_pids(*rows), ids.pids);
    EXPECT_EQ(occurrences(run.out, R"("status":"not_found")"), ids.pids.size() - live_targets);
    for (const DWORD pid : live_pids_) {
        EXPECT_TRUE(c.live_row_is_right(run.out, pid)) << pid;
    }
    EXPECT_TRUE(run.out.ends_with(c.not_found_row(ids.pids.back()) + "]}\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WindowsScale,
    ::testing::Values(
        ScaleCase{"sample", L"sample", "samples", not_found_sample_row, found_sample},
        ScaleCase{"inspect", L"inspect", "processes", not_found_inspect_row,
                  found_or_without_command_line}),
    [](const auto& info) { return std::string{info.param.name}; });

}  // namespace
}  // namespace e2e
