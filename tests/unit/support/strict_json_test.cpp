#include "support/strict_json.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace {

using testing_support::JsonNode;
using testing_support::read_json;
using testing_support::read_json_line;
using testing_support::Strings;

TEST(StrictJson, ReadsWhatTheWriterWrites) {
    const auto document = read_json(
        R"({"a":[null,true,false],"b":{"":0,"x":-9223372036854775808},)"
        R"("c":18446744073709551615,"d":"q\"\\\b\t\n\f\r\u0001\u001f/)"
        "\x7f\xc3\xa9\xf0\x9f\x98\x80"
        R"(","e":[0.0,-0.0,1.5,1e+16,1e-6,0.00001,123456789012345.0]})");
    ASSERT_TRUE(document.has_value());
    ASSERT_EQ(document->members.size(), 5u);
    EXPECT_EQ(document->find("a")->items.size(), 3u);
    EXPECT_TRUE(document->find("a")->items[1].boolean);
    EXPECT_EQ(document->find("b")->find("x")->as_signed(), INT64_MIN);
    EXPECT_EQ(document->find("c")->as_unsigned(), UINT64_MAX);
    EXPECT_EQ(document->find("d")->text,
              "q\"\\\b\t\n\f\r\x01\x1f/\x7f\xc3\xa9\xf0\x9f\x98\x80");
    const JsonNode& doubles = *document->find("e");
    ASSERT_EQ(doubles.items.size(), 7u);
    for (const JsonNode& number : doubles.items) EXPECT_FALSE(number.is_integer()) << number.text;
    EXPECT_EQ(doubles.items[2].as_double(), 1.5);
}

// Each text breaks one rule the writer keeps; a reader that let it through would let a writer
// fault through too.
TEST(StrictJson, RefusesEveryOtherForm) {
    const struct {
        const char* rule;
        std::string_view text;
    } cases[] = {
        {"empty", ""},
        {"two values", "1 2"},
        {"white space between tokens", R"({"a": 1})"},
        {"white space around the value", " {}"},
        {"trailing comma", "[1,]"},
        {"unclosed", R"({"a":1)"},
        {"keys out of byte order", R"({"b":1,"a":2})"},
        {"keys ordered as signed bytes", "{\"\xc3\xa9\":1,\"z\":2}"},
        {"duplicate key", R"({"a":1,"a":2})"},
        {"leading zero", "01"},
        {"minus zero integer", "-0"},
        {"beyond 64 bits", "18446744073709551616"},
        {"below -2^63", "-9223372036854775809"},
        {"plus sign", "+1"},
        {"double without digits after the point", "1."},
        {"double with a trailing zero", "1.50"},
        {"double that should be plain", "1e+15"},
        {"double that should use an exponent", "10000000000000000.0"},
        {"exponent without sign", "1e20"},
        {"capital exponent", "1E+20"},
        {"double longer than the shortest", "0.30000000000000001"},
        {"infinite double", "1e+999"},
        {"zero with two zeros", "[0.00]"},
        {"raw control byte in a string", "\"a\tb\""},
        {"escaped slash", R"("\/")"},
        {"unicode escape of a printable character", R"("\u0041")"},
        {"unicode escape with a short form", R"("\u000a")"},
        {"unicode escape in upper case", R"("\u001F")"},
        {"surrogate escape", R"("\ud83d\ude00")"},
        {"invalid UTF-8 byte", "\"\xff\""},
        {"overlong UTF-8", "\"\xc0\xaf\""},
        {"UTF-8 surrogate", "\"\xed\xa0\x80\""},
        {"UTF-8 beyond U+10FFFF", "\"\xf4\x90\x80\x80\""},
        {"cut UTF-8 sequence", "\"\xe2\x82\""},
        {"bare word", "nul"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(read_json(c.text).has_value()) << c.rule;
    }
}

TEST(StrictJson, ReadsOtherBytesOnlyWhenAskedTo) {
    const std::string text = "[\"\xff\xc0\"]";
    EXPECT_FALSE(read_json(text).has_value());
    const auto read = read_json(text, Strings::any_bytes);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->items[0].text, "\xff\xc0");
}

TEST(StrictJson, ALineIsTheValueAndOneNewline) {
    EXPECT_TRUE(read_json_line("{}\n").has_value());
    EXPECT_FALSE(read_json_line("{}").has_value());
    EXPECT_FALSE(read_json_line("{}\n\n").has_value());
    EXPECT_FALSE(read_json_line("{}\r\n").has_value());
    EXPECT_FALSE(read_json_line("\n{}\n").has_value());
    EXPECT_FALSE(read_json("{}\n").has_value());
}

}  // namespace
