// The one decimal reader: what is a number, what is not, and where each width overflows.

#include "text/decimal.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

enum class Read { number, not_decimal, too_large };

struct Case {
    std::string text;
    Read as_32;
    std::uint32_t value_32;
    Read as_64;
    std::uint64_t value_64;
};

template <typename Number>
std::string reading(const text::Decimal<Number>& read) {
    using Kind = typename text::Decimal<Number>::Kind;
    switch (read.kind) {
        case Kind::number: return std::to_string(read.value);
        case Kind::not_decimal: return "not decimal";
        case Kind::too_large: return "too large";
    }
    return "?";
}

std::string expected(Read read, std::uint64_t value) {
    switch (read) {
        case Read::number: return std::to_string(value);
        case Read::not_decimal: return "not decimal";
        case Read::too_large: return "too large";
    }
    return "?";
}

TEST(Decimal, ReadsWholeTextsOfAsciiDigitsThatFit) {
    constexpr auto n = Read::number;
    constexpr auto no = Read::not_decimal;
    constexpr auto big = Read::too_large;
    const std::vector<Case> cases = {
        {"", no, 0, no, 0},
        {"0", n, 0, n, 0},
        {"007", n, 7, n, 7},
        {"4294967295", n, 4294967295u, n, 4294967295u},
        {"4294967296", big, 0, n, 4294967296u},
        // Past 32 bits by the multiplication alone, and by the last addition alone.
        {"42949672950", big, 0, n, 42949672950u},
        {"18446744073709551615", big, 0, n, 18446744073709551615u},
        {"18446744073709551616", big, 0, big, 0},
        {"184467440737095516150", big, 0, big, 0},
        {std::string(40, '0') + "42", n, 42, n, 42},
        // Every byte counts, past an overflow too.
        {std::string(30, '9') + "x", no, 0, no, 0},
        {"x" + std::string(30, '9'), no, 0, no, 0},
        // The neighbours of '0' and '9', signs, blanks, and a digit that is not ASCII.
        {"1/", no, 0, no, 0},
        {"1:", no, 0, no, 0},
        {"+1", no, 0, no, 0},
        {"-1", no, 0, no, 0},
        {" 1", no, 0, no, 0},
        {"1\n", no, 0, no, 0},
        {std::string("1\0", 2), no, 0, no, 0},
        {"\xd9\xa5", no, 0, no, 0},  // ARABIC-INDIC DIGIT FIVE
        {"\xb1", no, 0, no, 0},      // '1' with its top bit set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(reading(text::read_decimal<std::uint32_t>(c.text)),
                  expected(c.as_32, c.value_32));
        EXPECT_EQ(reading(text::read_decimal<std::uint64_t>(c.text)),
                  expected(c.as_64, c.value_64));
        EXPECT_EQ(text::decimal_value<std::uint64_t>(c.text).has_value(), c.as_64 == Read::number);
    }
}

}  // namespace
