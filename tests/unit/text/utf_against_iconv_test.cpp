// The UTF-8 decoder against glibc's iconv, an independent one, over every sequence of a lead
// byte and its continuation bytes: each overlong form, each encoded surrogate, each code point
// above U+10FFFF and every valid code point of two to four bytes.

#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/utf.hpp"

namespace {

class Iconv {
public:
    Iconv() : descriptor_(::iconv_open("UTF-16LE", "UTF-8")) {}
    ~Iconv() {
        if (opened()) ::iconv_close(descriptor_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool opened() const { return descriptor_ != reinterpret_cast<iconv_t>(-1); }

    // The UTF-16 units of `bytes`, or nothing when iconv refuses any of them.
    std::optional<std::u16string> decode(const std::string& bytes) {
        ::iconv(descriptor_, nullptr, nullptr, nullptr, nullptr);
        char16_t units[8];
        char* in = const_cast<char*>(bytes.data());
        std::size_t in_left = bytes.size();
        char* out = reinterpret_cast<char*>(units);
        std::size_t out_left = sizeof units;
        if (::iconv(descriptor_, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1) ||
            in_left != 0) {
            return std::nullopt;
        }
        // UTF-16LE, read back on a little-endian machine.
        return std::u16string(units, (sizeof units - out_left) / sizeof(char16_t));
    }

private:
    iconv_t descriptor_;
};

std::string hex(const std::string& bytes) {
    std::string text;
    for (const char byte : bytes) {
        constexpr char digits[] = "0123456789ABCDEF";
        const auto value = static_cast<unsigned char>(byte);
        text += {' ', digits[value >> 4], digits[value & 0xF]};
    }
    return text.substr(1);
}

struct LeadRange {
    std::uint8_t first;
    std::uint8_t last;
    int continuations;
};

TEST(Utf8AgainstIconv, EveryLeadByteWithEveryContinuationDecodesAsIconvDoes) {
    Iconv iconv;
    ASSERT_TRUE(iconv.opened());
    const LeadRange ranges[] = {
        {0x80, 0xFF, 0},  // a lead byte alone, and every stray continuation byte
        {0x80, 0xFF, 1},  // every byte after 0x7F with one continuation byte
        {0xE0, 0xEF, 2},  // three-byte leads: overlong forms under E0 A0, surrogates from ED A0
        {0xF0, 0xF7, 3},  // four-byte leads: overlong under F0 90, above U+10FFFF from F4 90
    };
    std::uint64_t valid = 0;
    std::string bytes;
    for (const LeadRange& range : ranges) {
        const std::uint32_t combinations = 1u << (6 * range.continuations);
        for (unsigned lead = range.first; lead <= range.last; ++lead) {
            for (std::uint32_t tail = 0; tail < combinations; ++tail) {
                bytes.assign(1, static_cast<char>(lead));
                for (int k = range.continuations - 1; k >= 0; --k) {
                    bytes.push_back(static_cast<char>(0x80 | ((tail >> (6 * k)) & 0x3F)));
                }
                const std::optional<std::u16string> expected = iconv.decode(bytes);
                const bool accepted = text::is_valid_utf8(bytes);
                if (accepted != expected.has_value()) {
                    ADD_FAILURE() << hex(bytes) << ": iconv " << (expected ? "accepts" : "refuses");
                    return;
                }
                if (!accepted) continue;
                ++valid;
                char16_t units[2];
                const std::size_t length = text::utf16_length(bytes);
                ASSERT_EQ(length, expected->size()) << hex(bytes);
                text::utf8_to_utf16(bytes, units);
                ASSERT_EQ(std::u16string_view(units, length), *expected) << hex(bytes);
            }
        }
    }
    // U+0080 to U+10FFFF, less the 2048 surrogates: every code point beyond ASCII, once.
    EXPECT_EQ(valid, 0x110000u - 0x80u - 0x800u);
}

}  // namespace
