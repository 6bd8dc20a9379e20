// Inspect where each process's command line is read on its own, through its opened handle (the
// Linux way), over the fake platform: one process held open at a time, what each reading means
// for the map and for the row, and no COM at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fake/com.hpp"
#include "fake/processes.hpp"
#include "probe/command_lines.hpp"
#include "probe/inspect.hpp"
#include "rows/inspect_rows.hpp"
#include "rows/row_text.hpp"
#include "support/strict_json.hpp"
#include "unit/probe/com_expectations.hpp"

namespace {

using probe::CommandLineMap;
using probe::CommandLineResult;
using probe::ProbeError;
using Read = platform::CommandLine::Read;

using EachCommandLine = testing_support::DiagnosedPlatformTest;

// What inspect hands its row builder, batch by batch, and the handles open at each hand-over.
class Batches final : public probe::InspectRows {
public:
    struct Batch {
        std::vector<std::uint32_t> pids;
        CommandLineResult command_lines;
        std::size_t open_handles = 0;
    };

    void add(probe::IdentityList identities, const CommandLineResult& command_lines) override {
        Batch batch{{}, command_lines, fake::open_handles()};
        for (const probe::IdentityEntry& entry : identities) batch.pids.push_back(entry.pid);
        batches.push_back(std::move(batch));
    }

    std::vector<Batch> batches;
};

TEST_F(EachCommandLine, InspectReadsOneProcessAtATimeAndNeverTouchesCom) {
    fake::process(3).command_line = "three";
    fake::process(1).open_fails = fake::always;
    fake::process(2).command_line = "two";
    Batches batches;
    const testing_support::ScopeCounts counts{{"inspect", "windows::command_lines"}};

    probe::inspect(processes, {3, 1, 4, 2}, batches);

    EXPECT_EQ(probe::command_line_batch(), 1u);
    ASSERT_EQ(batches.batches.size(), 4u);
    const std::vector<std::uint32_t> order = {3, 1, 4, 2};
    const std::vector<std::size_t> open = {1, 0, 0, 1};
    for (std::size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(order[i]);
        EXPECT_EQ(batches.batches[i].pids, std::vector<std::uint32_t>{order[i]});
        EXPECT_EQ(batches.batches[i].open_handles, open[i]);
    }
    EXPECT_EQ(batches.batches[0].command_lines, (CommandLineResult{CommandLineMap{{3, "three"}}}));
    EXPECT_EQ(batches.batches[3].command_lines, (CommandLineResult{CommandLineMap{{2, "two"}}}));
    // Only a process that was found is asked, once; and nothing at all is asked of COM.
    EXPECT_EQ(fake::calls_named("CommandLine"), 2u);
    EXPECT_TRUE(fake::com_record().calls.empty());
    EXPECT_EQ(counts.since("inspect"), 1u);
    EXPECT_EQ(counts.since("windows::command_lines"), 2u);
}

// Each reading as the map holds it, and the row the row builder then makes of it: text is the
// command line (an empty one is refused as on Windows); a process that let go of it is missing
// while it runs, and not found once it has ended; a shortage is the error that stands for the
// whole batch.
TEST_F(EachCommandLine, EachReadingBecomesItsEntryAndItsRow) {
    struct Case {
        const char* name;
        void (*script)(fake::Process&);
        CommandLineResult command_lines;
        std::string outcome;  // the row's status, or its code
    };
    constexpr std::uint32_t pid = 7;
    const std::vector<Case> cases = {
        {"text", [](fake::Process& p) { p.command_line = "sleep 30"; },
         CommandLineMap{{pid, "sleep 30"}}, "found"},
        {"empty text", [](fake::Process& p) { p.command_line = ""; }, CommandLineMap{{pid, ""}},
         "WMI_COMMAND_LINE"},
        {"gone while it runs",
         [](fake::Process& p) { p.command_line_fails = fake::always; }, CommandLineMap{},
         "WMI_MISSING"},
        {"gone, and ended",
         [](fake::Process& p) {
             p.command_line_fails = fake::always;
             p.exit_codes = {fake::still_active, 0};
         },
         CommandLineMap{}, "not_found"},
        {"shortage",
         [](fake::Process& p) {
             p.command_line_fails = fake::always;
             p.command_line_failure = Read::shortage;
         },
         ProbeError{codes::wmi_enumeration}, "WMI_ENUMERATION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset_processes();
        c.script(fake::process(pid));
        const std::vector<std::uint32_t> pids = {pid};

        probe::IdentityList identities = probe::collect_identities(processes, pids);
        EXPECT_EQ(probe::command_lines(processes, identities), c.command_lines);

        rows::WrittenRows written;
        rows::InspectRowMaker{written}.add(std::move(identities), c.command_lines);
        const auto rows = testing_support::read_json(std::move(written).take_rows().text());
        ASSERT_TRUE(rows.has_value());
        ASSERT_EQ(rows->items.size(), 1u);
        const testing_support::JsonNode& row = rows->items[0];
        const testing_support::JsonNode* code = row.find("code");
        EXPECT_EQ(code != nullptr ? code->text : row.find("status")->text, c.outcome);
        EXPECT_EQ(fake::open_handles(), 0u);
    }
}

}  // namespace
