#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "diagnostics/timing_scope.hpp"
#include "fresh_thread.hpp"

namespace {

using namespace diagnostics_test;

struct SwitchCase {
    std::optional<std::string> value;  // nullopt: unset
    bool on;
};

TEST_F(DiagnosticsTest, SwitchIsOnOnlyForExactlyOneOrTrue) {
    const std::vector<SwitchCase> cases = {
        {"1", true},      {"true", true},   {"0", false},     {"false", false},
        {"yes", false},   {"TRUE", false},  {"True", false},  {"", false},
        {" 1", false},    {"1 ", false},    {"true ", false}, {"\ttrue", false},
        {"11", false},    {std::nullopt, false},
    };
    for (const auto& c : cases) {
        fake::reset_runtime();
        if (c.value) fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", *c.value);
        const auto [answer, rows] = on_fresh_thread([] {
            const bool answer = diagnostics::enabled();
            return std::pair(answer, registry_rows());
        });
        const std::string label = c.value ? "\"" + *c.value + "\"" : "unset";
        EXPECT_EQ(answer, c.on) << label;
        if (c.on) {
            ASSERT_EQ(rows.size(), 1u) << label;
            EXPECT_EQ(rows[0].name, "diagnostics::enabled");
            EXPECT_EQ(rows[0].calls, 1u);
        } else {
            EXPECT_TRUE(rows.empty()) << label << ": an off check records nothing";
        }
    }
}

TEST_F(DiagnosticsTest, SwitchIsReadAfreshOnEveryCheck) {
    const auto answers = on_fresh_thread([] {
        std::vector<bool> seen;
        seen.push_back(diagnostics::enabled());
        fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "true");
        seen.push_back(diagnostics::enabled());
        fake::unset_environment_variable("ZUL_DIAGNOSTICS_ENABLED");
        seen.push_back(diagnostics::enabled());
        return seen;
    });
    EXPECT_EQ(answers, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(fake::environment_reads(), 3u);
}

// A session's request: the switch read once, when the hold begins, and its answer kept until the
// hold ends, on its own thread only. Held off, scopes read neither the environment nor the
// clock; held on, each check answers and records as an unheld one does.
TEST_F(DiagnosticsTest, AHeldSwitchIsReadOnceAndHeldOffScopesReadNoClock) {
    const auto off = on_fresh_thread([] {
        std::vector<bool> seen;
        {
            const diagnostics::HeldSwitch held;
            fake::set_environment_variable("ZUL_DIAGNOSTICS_ENABLED", "1");
            const std::uint64_t clock_before = fake::clock_readings();
            { diagnostics::TimingScope scope{"test::op"}; }
            seen.push_back(diagnostics::enabled());
            seen.push_back(fake::clock_readings() == clock_before);
        }
        seen.push_back(diagnostics::enabled());  // the hold has ended: read afresh
        seen.push_back(registry_rows().size() == 1);  // that check alone recorded
        return seen;
    });
    EXPECT_EQ(off, (std::vector<bool>{false, true, true, true}));
    EXPECT_EQ(fake::environment_reads(), 2u) << "once for the hold, once after it";

    fake::reset_runtime();
    switch_on();
    const auto [answers, rows] = on_fresh_thread([] {
        std::vector<bool> seen;
        const diagnostics::HeldSwitch held;
        fake::unset_environment_variable("ZUL_DIAGNOSTICS_ENABLED");
        { diagnostics::TimingScope scope{"test::op"}; }
        seen.push_back(diagnostics::enabled());
        // Another thread holds nothing, and reads the environment as it is.
        seen.push_back(on_fresh_thread([] { return diagnostics::enabled(); }));
        return std::pair(seen, registry_rows());
    });
    EXPECT_EQ(answers, (std::vector<bool>{true, false}));
    EXPECT_EQ(fake::environment_reads(), 2u);
    EXPECT_EQ(names_of(rows),
              (std::vector<std::string_view>{"diagnostics::enabled", "diagnostics::new", "test::op",
                                             "diagnostics::record", "diagnostics::drop"}));
    EXPECT_EQ(rows[0].calls, 3u) << "the hold's check, the scope's and the last";
}

}  // namespace
