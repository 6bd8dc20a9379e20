// Ten thousand process IDs in one run: most name nobody, some live children. Both commands
// print one row per ID, in order. How long they take is the benchmark's to say.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using Kind = JsonNode::Kind;

constexpr std::size_t id_count = 10000;
constexpr std::size_t live_children = 50;

struct ScaleCase {
    const char* command;
    const char* array_key;
};

// Keeps ctest's test names short: the command, not the bytes of the case.
void PrintTo(const ScaleCase& c, std::ostream* out) { *out << c.command; }

class ScaleE2e : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleE2e, TenThousandIdsGiveOneRowEachInOrder) {
    e2e::ChildPool children{live_children};
    const std::vector<pid_t> live = children.pids();
    ASSERT_EQ(live.size(), live_children);

    // The live children spread evenly among IDs at and above pid_max, which nobody can have.
    std::vector<std::string> pids;
    std::vector<bool> expect_found;
    std::uint64_t nobody = test_support::pid_max();
    const std::size_t spacing = id_count / live.size();
    for (std::size_t i = 0; i < id_count; ++i) {
        const bool is_live = i % spacing == 0 && i / spacing < live.size();
        pids.push_back(is_live ? std::to_string(live[i / spacing]) : std::to_string(nobody++));
        expect_found.push_back(is_live);
    }

    std::vector<std::string> arguments{GetParam().command};
    arguments.insert(arguments.end(), pids.begin(), pids.end());
    const e2e::RunResult run = e2e::run_tool(arguments);

    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_TRUE(!run.out.empty() && run.out.back() == '\n');
    const auto document = testing_support::read_json_line(run.out);
    ASSERT_TRUE(document.has_value()) << "not JSON";
    const JsonNode* rows = document->find(GetParam().array_key);
    ASSERT_TRUE(rows != nullptr && rows->kind == Kind::array);
    ASSERT_EQ(rows->items.size(), id_count);
    for (std::size_t i = 0; i < id_count; ++i) {
        const JsonNode& row = rows->items[i];
        ASSERT_EQ(row.find("pid")->text, pids[i]) << "row " << i;
        ASSERT_EQ(row.find("status")->text, expect_found[i] ? "found" : "not_found")
            << "row " << i << ", pid " << pids[i];
    }
}

// inspect reads one process at a time: under a limit of ten descriptors (the three standard ones
// and seven more), every one of many live processes is found, none refused for want of room.
TEST(ScaleE2e, InspectOfManyProcessesNeedsAFewDescriptorsAtOnce) {
    constexpr std::size_t many = 200;
    e2e::ChildPool children{many};
    const std::vector<pid_t> live = children.pids();
    ASSERT_EQ(live.size(), many);
    std::vector<std::string> arguments{"inspect"};
    for (const pid_t pid : live) arguments.push_back(std::to_string(pid));
    e2e::RunOptions options;
    options.open_files = 10;
    const e2e::RunResult run = e2e::run_tool(arguments, options);

    ASSERT_EQ(run.status, 0) << run.err;
    const auto document = testing_support::read_json_line(run.out);
    ASSERT_TRUE(document.has_value()) << "not JSON";
    const JsonNode* rows = document->find("processes");
    ASSERT_TRUE(rows != nullptr && rows->items.size() == many);
    for (std::size_t i = 0; i < many; ++i) {
        const JsonNode* code = rows->items[i].find("code");
        EXPECT_EQ(rows->items[i].find("status")->text, "found")
            << "pid " << live[i] << ": " << (code != nullptr ? code->text : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, ScaleE2e,
                         ::testing::Values(ScaleCase{"sample", "samples"},
                                           ScaleCase{"inspect", "processes"}),
                         [](const auto& info) { return std::string{info.param.command}; });

}  // namespace
