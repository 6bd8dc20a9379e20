// Processes killed and replaced while they are sampled and inspected: every row must still be
// found or not_found, every document valid, and no descriptor may be left behind. The commands
// run both in this process, straight over the /proc backend (so its descriptors can be
// counted), and as the built tool.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"
#include "json/written_array.hpp"
#include "probe/inspect.hpp"
#include "rows/inspect_rows.hpp"
#include "rows/row_text.hpp"
#include "rows/sample_rows.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using Kind = JsonNode::Kind;

constexpr std::size_t pool_size = 300;
constexpr int in_process_rounds = 6;
// Each run of the tool costs a start-up, most of all under the sanitizers.
constexpr int tool_rounds = 3;

std::set<std::string> open_descriptors() {
    std::set<std::string> names;
    if (DIR* listing = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(listing)) {
            if (entry->d_name[0] != '.') names.insert(entry->d_name);
        }
        ::closedir(listing);
    }
    return names;
}

struct Command {
    const char* word;
    const char* array_key;
};
const Command sample_command{"sample", "samples"};
const Command inspect_command{"inspect", "processes"};

// The IDs of one round: the pool as it stands, with the churned PIDs of the previous round
// (reaped, zombie or reused by now) mixed in.
std::vector<pid_t> round_pids(const std::vector<pid_t>& alive, const std::set<pid_t>& earlier) {
    std::vector<pid_t> pids = alive;
    std::set<pid_t> seen(pids.begin(), pids.end());
    for (const pid_t pid : earlier) {
        if (seen.insert(pid).second) pids.push_back(pid);
    }
    return pids;
}

// The kernel's figures of a child, which a found row of it must carry: its start, which never
// changes, and its peak resident memory, which only grows (a child may still be starting).
struct Kernel {
    std::string created_at;  // starttime of stat, as the 1601-based ticks of a row
    std::uint64_t peak_bytes = 0;
};

std::map<pid_t, Kernel> kernel_readings(const std::vector<pid_t>& pids) {
    std::map<pid_t, Kernel> readings;
    const std::uint64_t boot = test_support::boot_seconds();
    for (const pid_t pid : pids) {
        const auto stat = test_support::stat_fields("/proc/" + std::to_string(pid) + "/stat");
        if (stat.size() <= 22) continue;
        readings[pid] = {std::to_string(test_support::ticks_since_1601(boot, std::stoull(stat[22]))),
                         test_support::status_bytes(pid, "VmHWM:")};
    }
    return readings;
}

// Every row in place, found or not_found: a process killed at any moment has either not ended
// yet or has ended, and the rows beside it do not care. A child that was alive when the run
// started and that nobody touched during it is found, and is that child: the kernel read the
// same start and a peak no higher before the run, and no lower after it.
void expect_sound_rows(const Command& command, const JsonNode& document,
                       const std::vector<pid_t>& pids, const std::set<pid_t>& alive_at_start,
                       const std::set<pid_t>& churned, const std::map<pid_t, Kernel>& before,
                       const std::map<pid_t, Kernel>& after) {
    const JsonNode* rows = document.find(command.array_key);
    ASSERT_TRUE(rows != nullptr && rows->kind == Kind::array);
    ASSERT_EQ(rows->items.size(), pids.size());
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const JsonNode& row = rows->items[i];
        ASSERT_EQ(row.kind, Kind::object);
        ASSERT_EQ(row.find("pid")->text, std::to_string(pids[i]));
        const std::string status = row.find("status")->text;
        const JsonNode* code = row.find("code");
        EXPECT_TRUE(status == "found" || status == "not_found")
            << pids[i] << ": " << status << " " << (code != nullptr ? code->text : "");
        if (alive_at_start.count(pids[i]) && !churned.count(pids[i])) {
            EXPECT_EQ(status, "found") << pids[i] << " was alive throughout";
            const auto first = before.find(pids[i]);
            const auto last = after.find(pids[i]);
            if (status != "found" || first == before.end() || last == after.end()) continue;
            if (&command == &inspect_command) {
                EXPECT_EQ(e2e::text_of(row, "createdAt"), first->second.created_at) << pids[i];
            } else {
                const JsonNode* peak = row.find("systemPeakBytes");
                const double bytes =
                    peak != nullptr && peak->kind == Kind::number ? peak->as_double() : -1.0;
                EXPECT_TRUE(bytes >= static_cast<double>(first->second.peak_bytes) &&
                            bytes <= static_cast<double>(last->second.peak_bytes))
                    << pids[i] << ": peak " << e2e::text_of(row, "systemPeakBytes")
                    << ", the kernel's " << first->second.peak_bytes << " to "
                    << last->second.peak_bytes;
            }
        }
    }
}

std::vector<std::uint32_t> as_ids(const std::vector<pid_t>& pids) {
    return {pids.begin(), pids.end()};
}

json::WrittenArray run_in_process(const Command& command, const std::vector<std::uint32_t>& ids) {
    platform::Processes processes;
    rows::WrittenRows written;
    if (&command == &sample_command) {
        rows::sample(processes, ids, written);
    } else {
        rows::InspectRowMaker maker{written};
        probe::inspect(processes, ids, maker);
    }
    return std::move(written).take_rows();
}

class ChurnE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pool_.pids().size(), pool_size);
        pool_.start_churn();
        // Let the churn get going before the first round.
        while (pool_.replaced() < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    e2e::ChildPool pool_{pool_size};
};

TEST_F(ChurnE2e, InProcessRunsGiveSoundRowsAndLeaveNoDescriptor) {
    const std::set<std::string> open_at_start = open_descriptors();
    const std::size_t replaced_before = pool_.replaced();
    std::set<pid_t> earlier;
    for (int round = 0; round < in_process_rounds; ++round) {
        for (const Command* command : {&sample_command, &inspect_command}) {
            SCOPED_TRACE(std::string{command->word} + " round " + std::to_string(round));
            pool_.mark();
            const std::vector<pid_t> alive = pool_.pids();
            const std::vector<pid_t> pids = round_pids(alive, earlier);
            const auto before = kernel_readings(alive);
            const json::WrittenArray rows = run_in_process(*command, as_ids(pids));
            const auto after = kernel_readings(alive);
            const std::set<pid_t> churned = pool_.churned_since_mark();

            const std::string document =
                "{\"" + std::string{command->array_key} + "\":" + rows.text() + "}";
            const std::optional<JsonNode> parsed = testing_support::read_json(document);
            ASSERT_TRUE(parsed.has_value());
            expect_sound_rows(*command, *parsed, pids, {alive.begin(), alive.end()}, churned,
                              before, after);
            earlier = churned;
        }
    }
    EXPECT_EQ(open_descriptors(), open_at_start) << "a descriptor was left open";
    EXPECT_GT(pool_.replaced() - replaced_before, std::size_t{in_process_rounds})
        << "too little churn to tell";
}

TEST_F(ChurnE2e, ToolRunsPrintAValidDocumentEveryTime) {
    const std::size_t replaced_before = pool_.replaced();
    std::set<pid_t> earlier;
    for (int round = 0; round < tool_rounds; ++round) {
        for (const Command* command : {&sample_command, &inspect_command}) {
            SCOPED_TRACE(std::string{command->word} + " round " + std::to_string(round));
            pool_.mark();
            const std::vector<pid_t> alive = pool_.pids();
            const std::vector<pid_t> pids = round_pids(alive, earlier);
            std::vector<std::string> arguments{command->word};
            for (const std::string& pid : e2e::as_arguments(pids)) arguments.push_back(pid);
            const auto before = kernel_readings(alive);
            const e2e::RunResult run = e2e::run_tool(arguments);
            const auto after = kernel_readings(alive);
            const std::set<pid_t> churned = pool_.churned_since_mark();

            ASSERT_EQ(run.status, 0) << "signal " << run.signal << ": " << run.err;
            EXPECT_EQ(run.err, "");
            ASSERT_TRUE(!run.out.empty() && run.out.back() == '\n');
            const std::optional<JsonNode> parsed = testing_support::read_json_line(run.out);
            ASSERT_TRUE(parsed.has_value()) << run.out;
            expect_sound_rows(*command, *parsed, pids, {alive.begin(), alive.end()}, churned,
                              before, after);
            earlier = churned;
        }
    }
    EXPECT_GT(pool_.replaced() - replaced_before, std::size_t{tool_rounds})
        << "too little churn to tell";
}

}  // namespace
