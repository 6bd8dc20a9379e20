#include "text/utf.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace text {
namespace {

constexpr char32_t replacement = 0xFFFD;

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The number of units before the first one outside ASCII.
std::size_t ascii_units(std::u16string_view units) {
    std::size_t i = 0;
    while (i < units.size() && units[i] < 0x80) ++i;
    return i;
}

// The number of bytes before the first one outside ASCII, eight at a time.
std::size_t ascii_bytes(std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        if ((word & 0x8080808080808080ull) != 0) break;
    }
    while (i < bytes.size() && static_cast<std::uint8_t>(bytes[i]) < 0x80) ++i;
    return i;
}

std::size_t utf8_length(char32_t code_point) {
    return code_point < 0x80 ? 1 : code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 bytes of `code_point` at `out`; returns the end.
char* put_utf8(char* out, char32_t code_point) {
    if (code_point < 0x80) {
        *out++ = static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code_point >> 6));
        *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code_point >> 12));
        *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code_point >> 18));
        *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
    }
    return out;
}

// Hands each code point of `units` from unit `from` on to `emit`. An unpaired surrogate is
// U+FFFD, or, when `unpaired_stops`, ends the walk with false.
template <typename Emit>
bool each_code_point(std::u16string_view units, std::size_t from, bool unpaired_stops,
                     Emit emit) {
    for (std::size_t i = from; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            emit(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(units[i + 1]) - 0xDC00));
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            if (unpaired_stops) return false;
            emit(replacement);
        } else {
            emit(unit);
        }
    }
    return true;
}

// Measured, then written into a string of exactly that length: a long text is converted
// without a growing buffer's copies.
bool convert_utf16(std::u16string_view units, std::string& out, bool unpaired_stops) {
    // The ASCII start of the text, usually all of it, one unit per byte.
    const std::size_t ascii = ascii_units(units);
    std::size_t length = ascii;
    if (!each_code_point(units, ascii, unpaired_stops,
                         [&](char32_t code_point) { length += utf8_length(code_point); })) {
        return false;
    }
    out.resize(length);
    char* bytes = out.data();
    for (std::size_t i = 0; i < ascii; ++i) bytes[i] = static_cast<char>(units[i]);
    char* at = bytes + ascii;
    each_code_point(units, ascii, unpaired_stops,
                    [&](char32_t code_point) { at = put_utf8(at, code_point); });
    return true;
}

// Decodes one UTF-8 sequence at `bytes[i]`. Returns its length, or 0 when the bytes there do
// not start a valid sequence; `invalid_length` then holds the maximal subpart to replace.
std::size_t decode_utf8(std::string_view bytes, std::size_t i, char32_t& code_point,
                        std::size_t& invalid_length) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[k]); };
    const std::uint8_t lead = byte(i);
    invalid_length = 1;
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size()) return 0;
        const std::uint8_t next = byte(i + k);
        const std::uint8_t min = k == 1 ? low : 0x80;
        const std::uint8_t max = k == 1 ? high : 0xBF;
        if (next < min || next > max) return 0;
        code_point = (code_point << 6) | (next & 0x3F);
        invalid_length = k + 1;
    }
    return length;
}

// Hands each UTF-16 unit of `bytes` from byte `from` on to `emit`: code points up to U+FFFF as
// one unit, higher ones as a pair, each invalid sequence as U+FFFD.
template <typename Emit>
void each_utf16_unit(std::string_view bytes, std::size_t from, Emit emit) {
    for (std::size_t i = from; i < bytes.size();) {
        char32_t code_point = 0;
        std::size_t invalid_length = 0;
        const std::size_t length = decode_utf8(bytes, i, code_point, invalid_length);
        if (length == 0) {
            emit(char16_t(replacement));
            i += invalid_length;
            continue;
        }
        if (code_point < 0x10000) {
            emit(char16_t(code_point));
        } else {
            code_point -= 0x10000;
            emit(char16_t(0xD800 + (code_point >> 10)));
            emit(char16_t(0xDC00 + (code_point & 0x3FF)));
        }
        i += length;
    }
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view units) {
    std::string out;
    convert_utf16(units, out, false);
    return out;
}

std::optional<std::string> utf16_to_utf8_strict(std::u16string_view units) {
    std::string out;
    if (!convert_utf16(units, out, true)) return std::nullopt;
    return out;
}

std::u16string utf8_to_utf16(std::string_view bytes) {
    // The ASCII start, usually all of it, widened in place: one unit per byte.
    const std::size_t ascii = ascii_bytes(bytes);
    std::u16string out;
    out.reserve(bytes.size());
    out.resize(ascii);
    char16_t* units = out.data();
    for (std::size_t i = 0; i < ascii; ++i) units[i] = static_cast<std::uint8_t>(bytes[i]);
    each_utf16_unit(bytes, ascii, [&](char16_t unit) { out.push_back(unit); });
    return out;
}

std::size_t utf16_length(std::string_view bytes) {
    const std::size_t ascii = ascii_bytes(bytes);
    std::size_t length = ascii;
    each_utf16_unit(bytes, ascii, [&](char16_t) { ++length; });
    return length;
}

void utf8_to_utf16(std::string_view bytes, char16_t* out) {
    const std::size_t ascii = ascii_bytes(bytes);
    for (std::size_t i = 0; i < ascii; ++i) *out++ = static_cast<std::uint8_t>(bytes[i]);
    each_utf16_unit(bytes, ascii, [&](char16_t unit) { *out++ = unit; });
}

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = ascii_bytes(bytes); i < bytes.size();) {
        char32_t code_point = 0;
        std::size_t invalid_length = 0;
        const std::size_t length = decode_utf8(bytes, i, code_point, invalid_length);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

void sanitize_utf8_in_place(std::string& text) {
    if (!is_valid_utf8(text)) text = sanitize_utf8(text);
}

// Hands each piece of `bytes` to `emit`: a valid sequence as it stands, or nothing for an
// invalid one, which `emit` then replaces.
template <typename Emit>
void each_sequence(std::string_view bytes, Emit emit) {
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t code_point = 0;
        std::size_t invalid_length = 0;
        const std::size_t length = decode_utf8(bytes, i, code_point, invalid_length);
        emit(length == 0 ? std::string_view{} : bytes.substr(i, length));
        i += length == 0 ? invalid_length : length;
    }
}

std::string sanitize_utf8(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    // Measured, then written into a string of exactly that length.
    constexpr std::size_t replaced = 3;  // U+FFFD in UTF-8
    std::size_t length = 0;
    each_sequence(bytes, [&](std::string_view valid) {
        length += valid.empty() ? replaced : valid.size();
    });
    std::string out(length, '\0');
    char* at = out.data();
    each_sequence(bytes, [&](std::string_view valid) {
        if (valid.empty()) {
            at = put_utf8(at, replacement);
        } else {
            at = std::copy(valid.begin(), valid.end(), at);
        }
    });
    return out;
}

}  // namespace text
