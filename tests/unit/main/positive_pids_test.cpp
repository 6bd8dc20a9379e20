// The process-ID list: the messages, their precedence, and the order of first occurrence.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "main/positive_pids.hpp"

namespace {

using app::PidMessage;
using Result = std::variant<std::vector<std::uint32_t>, PidMessage>;

Result pids(std::vector<std::uint32_t> list) { return list; }
Result message(std::string_view text) { return PidMessage{text}; }

struct Case {
    std::vector<std::string> arguments;
    Result expected;
};

TEST(PositivePidsTest, ParsesOrNamesTheFirstFault) {
    const std::string not_decimal = "process IDs must be positive decimal integers";
    const std::vector<Case> cases{
        {{}, message("provide at least one process ID")},
        {{""}, message(not_decimal)},
        {{"abc"}, message(not_decimal)},
        {{"-5"}, message(not_decimal)},
        {{"+5"}, message(not_decimal)},
        {{" 5"}, message(not_decimal)},
        {{"5 "}, message(not_decimal)},
        {{"1.5"}, message(not_decimal)},
        {{"0x10"}, message(not_decimal)},
        {{"\xd9\xa5"}, message(not_decimal)},  // ARABIC-INDIC DIGIT FIVE
        {{std::string("1\0", 2)}, message(not_decimal)},
        // Non-digits decide before the value does, even past an overflow.
        {{"99999999999x"}, message(not_decimal)},
        {{"4294967296"}, message("process ID out of range")},
        {{"42949672950"}, message("process ID out of range")},
        {{std::string(20, '9')}, message("process ID out of range")},
        {{"0"}, message("process ID must be positive")},
        {{"000"}, message("process ID must be positive")},
        {{"007"}, pids({7})},
        {{"4294967295"}, pids({4294967295u})},
        {{"0000000000000000000042"}, pids({42})},
        {{"12", "7", "12", "3", "7"}, pids({12, 7, 3})},
        {{"12", "012", "0012"}, pids({12})},
        {{"12", "abc", "0"}, message(not_decimal)},
        {{"12", "0", "abc"}, message("process ID must be positive")},
        {{"12", "4294967296", "0"}, message("process ID out of range")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::positive_pids(c.arguments), c.expected)
            << ::testing::PrintToString(c.arguments);
    }
}

// Many IDs in patterns that a poorly spread table would pile into long runs of probes (their
// cost is counted in the table's own test): evenly spaced high IDs, runs of consecutive IDs,
// and IDs that differ only in their upper bits, each given twice.
TEST(PositivePidsTest, KeepsFirstOccurrencesOverManyRepeatedArguments) {
    struct Pattern {
        const char* label;
        std::uint32_t (*id)(std::uint32_t);
    };
    const std::vector<Pattern> patterns{
        {"every 7th from 4e9 down", [](std::uint32_t i) { return 4'000'000'000u - 7 * i; }},
        {"consecutive", [](std::uint32_t i) { return i + 1; }},
        {"upper bits only", [](std::uint32_t i) { return (i + 1) << 16; }},
        {"upper bits and the largest", [](std::uint32_t i) { return 4294967295u - (i << 16); }},
    };
    for (const Pattern& pattern : patterns) {
        // 50,000 distinct IDs, then all of them again in reverse order.
        std::vector<std::string> arguments;
        std::vector<std::uint32_t> expected;
        for (std::uint32_t i = 0; i < 50'000; ++i) {
            expected.push_back(pattern.id(i));
            arguments.push_back(std::to_string(expected.back()));
        }
        for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
            arguments.push_back(std::to_string(*it));
        }
        EXPECT_EQ(app::positive_pids(arguments), Result{expected}) << pattern.label;
    }
}

}  // namespace
