#include "text/utf.hpp"

#include <gtest/gtest.h>

namespace {

struct Utf16Case {
    const char* what;
    std::u16string units;
    std::string lossy;
    bool strict_ok;
};

TEST(Utf16ToUtf8, ConvertsAndReplacesUnpairedSurrogates) {
    const Utf16Case cases[] = {
        {"ascii", u"abc", "abc", true},
        {"two-byte", u"\u00e9", "\xc3\xa9", true},
        {"three-byte", u"\u4e2d", "\xe4\xb8\xad", true},
        {"pair", u"\xd83d\xde00", "\xf0\x9f\x98\x80", true},
        {"lone high", std::u16string(1, char16_t(0xD800)), "\xef\xbf\xbd", false},
        {"high then letter", std::u16string{char16_t(0xD800), u'A'}, "\xef\xbf\xbd" "A", false},
        {"lone low", std::u16string{u'x', char16_t(0xDC00)}, "x\xef\xbf\xbd", false},
        {"low then high", std::u16string{char16_t(0xDC00), char16_t(0xD800)},
         "\xef\xbf\xbd\xef\xbf\xbd", false},
        {"embedded zero", std::u16string{u'a', u'\0', u'b'}, std::string("a\0b", 3), true},
        {"empty", u"", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::utf16_to_utf8(c.units), c.lossy) << c.what;
        const auto strict = text::utf16_to_utf8_strict(c.units);
        EXPECT_EQ(strict.has_value(), c.strict_ok) << c.what;
        if (strict) {
            EXPECT_EQ(*strict, c.lossy) << c.what;
        }
    }
}

TEST(Utf8ToUtf16, RoundTripsValidText) {
    const std::string samples[] = {"C:\\Program Files\\x.exe", "caf\xc3\xa9",
                                   "\xe4\xb8\xad\xe6\x96\x87", "\xf0\x9f\x98\x80 smile",
                                   std::string("a\0b", 3)};
    for (const auto& s : samples) EXPECT_EQ(text::utf16_to_utf8(text::utf8_to_utf16(s)), s);
    EXPECT_EQ(text::utf8_to_utf16("\xf0\x9f\x98\x80"), (std::u16string{0xD83D, 0xDE00}));
}

struct Utf8Case {
    const char* what;
    std::string bytes;
    std::string sanitized;
};

TEST(Utf8Validation, ReplacesEachMaximalInvalidSubpart) {
    const std::string fffd = "\xef\xbf\xbd";
    const Utf8Case cases[] = {
        {"valid", "ok \xc3\xa9", "ok \xc3\xa9"},
        {"stray continuation", "a\x80" "b", "a" + fffd + "b"},
        {"truncated three-byte", "\xe4\xb8", fffd},
        {"truncated then ascii", "\xe4\xb8z", fffd + "z"},
        {"overlong slash", "\xc0\xaf", fffd + fffd},
        {"encoded surrogate", "\xed\xa0\x80", fffd + fffd + fffd},
        {"above U+10FFFF", "\xf4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"invalid lead byte", "\xff", fffd},
        {"four-byte after ascii", "path/\xf0\x9f\x98\x80.txt", "path/\xf0\x9f\x98\x80.txt"},
        {"invalid after a long ascii start", "0123456789abcdef\xc3", "0123456789abcdef" + fffd},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::is_valid_utf8(c.bytes), c.bytes == c.sanitized) << c.what;
        EXPECT_EQ(text::sanitize_utf8(c.bytes), c.sanitized) << c.what;
        std::string in_place = c.bytes;
        text::sanitize_utf8_in_place(in_place);
        EXPECT_EQ(in_place, c.sanitized) << c.what;
        // Converted straight into a block of the counted length, as into a BSTR.
        const std::u16string units = text::utf8_to_utf16(c.bytes);
        std::u16string block(text::utf16_length(c.bytes), u'\0');
        text::utf8_to_utf16(c.bytes, block.data());
        EXPECT_EQ(block, units) << c.what;
        EXPECT_EQ(text::utf16_to_utf8(units), c.sanitized) << c.what;
    }
}

}  // namespace
