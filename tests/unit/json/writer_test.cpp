#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json/writer.hpp"

namespace {

using json::Value;

struct WrittenCase {
    const char* label;
    Value value;
    std::string text;
};

void expect_written(const std::vector<WrittenCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(json::to_compact(c.value), c.text) << c.label;
    }
}

TEST(WriterTest, DoublesTakeShortestDigitsAndTheirLayout) {
    const double smallest_subnormal = std::numeric_limits<double>::denorm_min();
    const double largest = std::numeric_limits<double>::max();
    expect_written({
        {"one", Value::from_double(1.0), "1.0"},
        {"zero", Value::from_double(0.0), "0.0"},
        {"negative zero", Value::from_double(-0.0), "-0.0"},
        {"0.3", Value::from_double(0.3), "0.3"},
        {"a third", Value::from_double(1.0 / 3.0), "0.3333333333333333"},
        {"1e-5 is plain", Value::from_double(0.00001), "0.00001"},
        {"1e-6 is exponent", Value::from_double(0.000001), "1e-6"},
        {"2.5e-5", Value::from_double(0.000025), "0.000025"},
        {"0.1", Value::from_double(0.1), "0.1"},
        {"15.625", Value::from_double(15.625), "15.625"},
        {"1562.5", Value::from_double(1562.5), "1562.5"},
        {"100", Value::from_double(100.0), "100.0"},
        {"1e15", Value::from_double(1e15), "1000000000000000.0"},
        {"1e15 + 0.5", Value::from_double(1e15 + 0.5), "1000000000000000.5"},
        {"1e16", Value::from_double(1e16), "1e+16"},
        {"1.5e16", Value::from_double(1.5e16), "1.5e+16"},
        {"1.2345e20", Value::from_double(1.2345e20), "1.2345e+20"},
        {"1.5e-7", Value::from_double(1.5e-7), "1.5e-7"},
        {"negative plain", Value::from_double(-2.5), "-2.5"},
        {"negative exponent", Value::from_double(-1.5e-7), "-1.5e-7"},
        {"smallest subnormal", Value::from_double(smallest_subnormal), "5e-324"},
        {"largest", Value::from_double(largest), "1.7976931348623157e+308"},
        {"0.001", Value::from_double(1.0 / 1000.0), "0.001"},
        {"NaN", Value::from_double(std::nan("")), "null"},
        {"+inf", Value::from_double(std::numeric_limits<double>::infinity()), "null"},
        {"-inf", Value::from_double(-std::numeric_limits<double>::infinity()), "null"},
    });
}

TEST(WriterTest, IntegersAndLiterals) {
    expect_written({
        {"null", Value(), "null"},
        {"true", Value::boolean(true), "true"},
        {"false", Value::boolean(false), "false"},
        {"unsigned 0", Value::from_unsigned(0), "0"},
        {"unsigned max", Value::from_unsigned(std::numeric_limits<std::uint64_t>::max()),
         "18446744073709551615"},
        {"signed -1", Value::from_signed(-1), "-1"},
        {"signed min", Value::from_signed(std::numeric_limits<std::int64_t>::min()),
         "-9223372036854775808"},
        {"signed positive", Value::from_signed(42), "42"},
        {"integer 5 is not double 5", Value::from_unsigned(5), "5"},
    });
}

// Unsigned digits are laid out two at a time from the end: every digit count, both sides of each
// power of ten, and a spread of other values must read as their decimal text.
TEST(WriterTest, UnsignedIntegersOfEveryLengthAreTheirDecimalDigits) {
    std::vector<std::uint64_t> numbers;
    std::uint64_t power = 1;
    for (int digits = 1; digits <= 20; ++digits) {
        numbers.insert(numbers.end(), {power - 1, power, power + 1, power + power / 2});
        if (digits < 20) power *= 10;
    }
    std::uint64_t state = 0x2545F4914F6CDD1Du;
    for (int i = 0; i < 10000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        numbers.push_back(state >> (i % 64));
    }
    for (const std::uint64_t number : numbers) {
        ASSERT_EQ(json::to_compact(Value::from_unsigned(number)), std::to_string(number));
    }
}

TEST(WriterTest, StringsEscapeOnlyQuoteBackslashAndControlBytes) {
    expect_written({
        {"quote, backslash, solidus", Value::string("\"\\/"), R"("\"\\/")"},
        {"control bytes and DEL", Value::string(std::string("\x01\x09\x0b\x1f\x7f")),
         "\"\\u0001\\t\\u000b\\u001f\x7f\""},
        {"short escapes", Value::string("\b\f\n\r\t"), R"("\b\f\n\r\t")"},
        {"NUL inside", Value::string(std::string("a\0b", 3)), R"("a\u0000b")"},
        {"non-ASCII stays UTF-8", Value::string("\xc3\xa9"), "\"\xc3\xa9\""},
        {"empty", Value::string(""), R"("")"},
        {"escape between plain runs", Value::string("ab\ncd"), R"("ab\ncd")"},
    });
}

// Short texts are quoted in a fixed buffer, longer ones in place: both sides of that length,
// with and without an escape at the very end, must come out the same way.
TEST(WriterTest, StringsOfEveryLengthNearTheShortBufferAreWrittenWhole) {
    for (std::size_t length = 1; length <= 80; ++length) {
        const std::string plain(length, 'x');
        EXPECT_EQ(json::to_compact(Value::string(plain)), '"' + plain + '"') << length;

        const std::string escaped_last = std::string(length - 1, 'x') + '\n';
        EXPECT_EQ(json::to_compact(Value::string(escaped_last)),
                  '"' + std::string(length - 1, 'x') + "\\n\"")
            << length;
    }
}

TEST(WriterTest, ContainersAreCompactWithKeysInByteOrder) {
    Value pid_then_peak = Value::object();
    pid_then_peak.set("pid", Value::from_unsigned(1));
    pid_then_peak.set("peak", Value::from_unsigned(2));

    Value mixed_case = Value::object();
    mixed_case.set("b", Value::from_unsigned(1));
    mixed_case.set("B", Value::from_unsigned(2));
    mixed_case.set("a", Value::from_unsigned(3));

    Value prefix_and_non_ascii = Value::object();
    prefix_and_non_ascii.set("\xc3\xa9", Value::from_unsigned(1));
    prefix_and_non_ascii.set("ab", Value::from_unsigned(2));
    prefix_and_non_ascii.set("a", Value::from_unsigned(3));
    prefix_and_non_ascii.set("z", Value::from_unsigned(4));

    Value escaped_key = Value::object();
    escaped_key.set("a\"b\n", Value());

    Value nested = Value::object();
    nested.set("rows", Value::array({Value::from_unsigned(1), Value::array(), Value::object()}));
    nested.set("empty", Value::string(""));

    expect_written({
        {"empty object", Value::object(), "{}"},
        {"empty array", Value::array(), "[]"},
        {"pid, peak", pid_then_peak, R"({"peak":2,"pid":1})"},
        {"b, B, a", mixed_case, R"({"B":2,"a":3,"b":1})"},
        {"prefix first, non-ASCII last", prefix_and_non_ascii,
         "{\"a\":3,\"ab\":2,\"z\":4,\"\xc3\xa9\":1}"},
        {"keys are escaped", escaped_key, R"({"a\"b\n":null})"},
        {"nested", nested, R"({"empty":"","rows":[1,[],{}]})"},
    });
}

// Every written double must read back to the same bits; sweep bit patterns from a fixed
// generator so the test is repeatable and covers every exponent range.
TEST(WriterTest, EveryWrittenDoubleReadsBackExactly) {
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 200000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        double number;
        std::memcpy(&number, &state, sizeof number);
        if (!std::isfinite(number)) continue;
        const std::string text = json::to_compact(Value::from_double(number));
        const double read_back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&read_back, &number, sizeof number), 0) << text;
        ASSERT_TRUE(text.find('.') != std::string::npos || text.find('e') != std::string::npos)
            << text;
    }
}

// Objects gather their members on the stack between appends: keys and values of every length
// around the gathering limits, with and without escapes, in objects long enough to fill the
// stack buffer many times, must still read as each member written on its own.
TEST(WriterTest, ObjectsOfManyMembersOfEveryLengthAreWrittenWhole) {
    const std::vector<Value> values = {
        Value(),
        Value::from_unsigned(std::numeric_limits<std::uint64_t>::max()),
        Value::from_unsigned(0),
        Value::string(std::string(62, 'v')),
        Value::string(std::string(64, 'v')),
        Value::string(std::string(65, 'v')),
        Value::string(std::string(63, 'v') + "\\"),
        Value::string("tab\there"),
        Value::from_double(15.625),
        Value::from_signed(-3),
        Value::boolean(false),
        Value::array({Value::from_unsigned(1)}),
    };
    for (const std::size_t key_length : {1u, 40u, 63u, 64u, 65u, 70u}) {
        Value object = Value::object();
        std::string expected = "{";
        for (std::size_t i = 0; i < 60; ++i) {
            // Distinct keys in ascending byte order, one of them with a byte to escape.
            std::string key = std::to_string(100 + i) + std::string(key_length, 'k');
            if (i == 7) key += '\n';
            const Value& value = values[i % values.size()];
            object.set(key, value);
            if (i > 0) expected += ',';
            expected += json::to_compact(Value::string(key)) + ":" + json::to_compact(value);
        }
        expected += '}';
        EXPECT_EQ(json::to_compact(object), expected) << "keys of " << key_length << " bytes";
        EXPECT_EQ(json::to_compact(Value::array({object, Value::object()})),
                  "[" + expected + ",{}]");
    }
}

TEST(WriterTest, AppendsToWhatTheBufferHolds) {
    std::string out = "doc=";
    json::write_compact(out, Value::array({Value::boolean(true), Value::from_double(0.5)}));
    EXPECT_EQ(out, "doc=[true,0.5]");
}

}  // namespace
