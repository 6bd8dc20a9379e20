#include <gtest/gtest.h>

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

}  // namespace
