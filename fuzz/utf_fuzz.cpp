// The UTF-8/UTF-16 conversions over arbitrary bytes, read both as UTF-8 text and as UTF-16
// units (little-endian pairs).
//
// Properties:
// - is_valid_utf8 agrees with a validator written from the definition (shortest form, no
//   surrogates, nothing above U+10FFFF);
// - sanitize_utf8 output is always valid, keeps valid text unchanged and is idempotent;
// - valid UTF-8 round-trips through UTF-16 exactly; invalid UTF-8 comes back as its sanitized
//   form (both replace the same sequences);
// - lossy utf16_to_utf8 output is always valid and reads back as the input with each unpaired
//   surrogate replaced by U+FFFD;
// - strict conversion succeeds exactly when there is no unpaired surrogate, and then agrees
//   with the lossy one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "text/utf.hpp"

namespace {

bool is_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes by bit patterns alone, then rejects what the bit patterns allow but Unicode does
// not: longer-than-needed forms, surrogate code points, and code points past U+10FFFF.
bool valid_by_definition(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<std::uint8_t>(bytes[i]);
        std::size_t length = 0;
        char32_t code_point = 0;
        if (lead < 0x80) {
            length = 1;
            code_point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code_point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code_point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code_point = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code_point = (code_point << 6) | (next & 0x3F);
        }
        static constexpr char32_t smallest_of_length[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code_point < smallest_of_length[length]) return false;
        if (code_point > 0x10FFFF) return false;
        if (code_point >= 0xD800 && code_point <= 0xDFFF) return false;
        i += length;
    }
    return true;
}

void check_utf8_input(std::string_view bytes) {
    const bool valid = text::is_valid_utf8(bytes);
    FUZZ_CHECK(valid == valid_by_definition(bytes));

    const std::string sanitized = text::sanitize_utf8(bytes);
    FUZZ_CHECK(text::is_valid_utf8(sanitized));
    FUZZ_CHECK(text::sanitize_utf8(sanitized) == sanitized);
    if (valid) FUZZ_CHECK(sanitized == bytes);

    const std::u16string units = text::utf8_to_utf16(bytes);
    const auto back = text::utf16_to_utf8_strict(units);
    FUZZ_CHECK(back.has_value());  // utf8_to_utf16 never makes an unpaired surrogate
    FUZZ_CHECK(*back == sanitized);
}

// The input with every unpaired surrogate replaced, and whether there was any.
std::u16string with_unpaired_replaced(std::u16string_view units, bool& had_unpaired) {
    std::u16string out(units);
    had_unpaired = false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (is_high_surrogate(out[i]) && i + 1 < out.size() && is_low_surrogate(out[i + 1])) {
            ++i;
        } else if (is_surrogate(out[i])) {
            out[i] = 0xFFFD;
            had_unpaired = true;
        }
    }
    return out;
}

void check_utf16_input(std::u16string_view units) {
    const std::string lossy = text::utf16_to_utf8(units);
    FUZZ_CHECK(text::is_valid_utf8(lossy));

    bool had_unpaired = false;
    const std::u16string expected = with_unpaired_replaced(units, had_unpaired);
    FUZZ_CHECK(text::utf8_to_utf16(lossy) == expected);

    const auto strict = text::utf16_to_utf8_strict(units);
    FUZZ_CHECK(strict.has_value() == !had_unpaired);
    if (strict) FUZZ_CHECK(*strict == lossy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_utf8_input(std::string_view(reinterpret_cast<const char*>(data), size));

    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    check_utf16_input(units);
    return 0;
}
