// Churn over the fake platform: in one run, processes end (or have their ID reused) at every
// step of the sample and inspect sequences, some quietly (their handle still answers), some
// with every later read failing as on a reaped process. Each row gets the outcome its step
// calls for, and the fixture checks that no handle, COM object, BSTR or VARIANT is left.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fake/com.hpp"
#include "fake/processes.hpp"
#include "json/writer.hpp"
#include "probe/inspect.hpp"
#include "rows/inspect_rows.hpp"
#include "rows/row_text.hpp"
#include "rows/sample_rows.hpp"
#include "support/strict_json.hpp"
#include "unit/platform_test.hpp"

namespace {

using fake::still_active;

constexpr std::uint64_t first_start = 133'000'000'000'000'000;
constexpr std::uint64_t later_start = first_start + 10'000'000;

struct ChurnCase {
    const char* name;
    std::uint32_t pid;
    void (*script)(fake::Process&);
    bool in_query;        // the query service still lists the process
    const char* sample;   // the sample row's outcome: status, or the code of an error
    const char* inspect;  // the same for the inspect row
};

void reads_fail(fake::Process& p) {
    p.times_fail = fake::always;
    p.memory_fails = fake::always;
    p.image_name_fails = fake::always;
}

// Ends after the given number of exit-code checks, so the next check sees it gone.
void ends_after_checks(fake::Process& p, std::size_t checks) {
    p.exit_codes.assign(checks, still_active);
    p.exit_codes.push_back(0);
}

const std::vector<ChurnCase> cases = {
    {"gone before the open", 11,
     [](fake::Process& p) {
         p.open_fails = fake::always;
         p.open_error = 87;
     },
     false, "not_found", "not_found"},
    {"ended before the first check", 12, [](fake::Process& p) { ends_after_checks(p, 0); },
     false, "not_found", "not_found"},
    {"ends after the first check, reads fail", 13,
     [](fake::Process& p) {
         ends_after_checks(p, 1);
         reads_fail(p);
     },
     false, "not_found", "not_found"},
    // Its handle still answers: sample has its reading; inspect's recheck sees it gone, and the
    // query, which ran after it ended, does not list it.
    {"ends after the first check (before or during the query), quietly", 14,
     [](fake::Process& p) { ends_after_checks(p, 1); }, false, "found", "not_found"},
    // A failed memory read of a process that has ended is not_found, as a failed time read is.
    {"ends after its times were read, reads fail", 15,
     [](fake::Process& p) {
         ends_after_checks(p, 1);
         p.memory_fails = fake::always;
         p.image_name_fails = fake::always;
     },
     false, "not_found", "not_found"},
    {"ends right after the query listed it", 17,
     [](fake::Process& p) { ends_after_checks(p, 1); }, true, "found", "not_found"},
    {"ends between the recheck's two reads", 18,
     [](fake::Process& p) {
         ends_after_checks(p, 2);
         p.times_fail = fake::from_call(2);
     },
     true, "found", "PROCESS_TIMES"},
    {"ID reused by a new process before the recheck", 19,
     [](fake::Process& p) { p.creation_ticks = {first_start, later_start}; }, true, "found",
     "PROCESS_CHANGED"},
    {"state unreadable once it ended", 20,
     [](fake::Process& p) {
         reads_fail(p);
         p.exit_code_fails = fake::from_call(2);
     },
     true, "PROCESS_TIMES", "PROCESS_TIMES"},
    {"never ends", 21, [](fake::Process&) {}, true, "found", "found"},
};

std::string outcome_of(const testing_support::JsonNode& row) {
    if (const testing_support::JsonNode* code = row.find("code")) return code->text;
    return row.find("status")->text;
}

std::vector<std::uint32_t> all_pids() {
    std::vector<std::uint32_t> pids;
    for (const ChurnCase& c : cases) pids.push_back(c.pid);
    return pids;
}

class Churn : public testing_support::PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        for (const ChurnCase& c : cases) c.script(fake::process(c.pid));
        for (const ChurnCase& c : cases) {
            if (c.in_query) {
                fake::com_script().next_steps.push_back(
                    fake::process_object(c.pid, u"prog " + std::u16string(1, u'a' + c.pid % 26)));
            }
        }
    }

    static void expect_outcomes(const json::WrittenArray& written, bool inspect) {
        const auto rows = testing_support::read_json(written.text());
        ASSERT_TRUE(rows.has_value()) << written.text();
        ASSERT_EQ(rows->items.size(), cases.size());
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(cases[i].name);
            EXPECT_EQ(rows->items[i].find("pid")->as_unsigned(), cases[i].pid);
            EXPECT_EQ(outcome_of(rows->items[i]), inspect ? cases[i].inspect : cases[i].sample);
        }
    }
};

TEST_F(Churn, SampleRowsFollowTheStepAtWhichEachProcessEnded) {
    rows::WrittenRows written;
    rows::sample(processes, all_pids(), written);
    expect_outcomes(std::move(written).take_rows(), false);
    EXPECT_TRUE(fake::com_record().calls.empty());
}

TEST_F(Churn, InspectRowsFollowTheStepAtWhichEachProcessEnded) {
    rows::WrittenRows written;
    rows::InspectRowMaker maker{written};
    probe::inspect(processes, all_pids(), maker);
    expect_outcomes(std::move(written).take_rows(), true);
    EXPECT_EQ(fake::com_record().query_texts.size(), 1u);
}

}  // namespace
