#include "json/string_text.hpp"

#include <array>
#include <cstdint>

namespace json {

namespace {

// For each byte: 0 when it is copied as it is, 'u' for \u00xx, or the letter after the
// backslash of its short escape. Built at compile time so writing costs no start-up work.
constexpr std::array<char, 256> escape_table = [] {
    std::array<char, 256> table{};
    for (int byte = 0; byte < 0x20; ++byte) table[byte] = 'u';
    table['"'] = '"';
    table['\\'] = '\\';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    return table;
}();

constexpr char hex_digits[] = "0123456789abcdef";

// Texts up to this length are quoted in a stack buffer when they need no escape.
constexpr std::size_t short_text = 62;

}  // namespace

char* put_plain_quoted(char* at, std::string_view text) {
    *at++ = '"';
    for (const char byte : text) {
        if (escape_table[static_cast<std::uint8_t>(byte)] != 0) return nullptr;
        *at++ = byte;
    }
    *at++ = '"';
    return at;
}

std::size_t quoted_length(std::string_view text) {
    std::size_t length = text.size() + 2;
    for (const char byte : text) {
        const char escape = escape_table[static_cast<std::uint8_t>(byte)];
        if (escape != 0) length += escape == 'u' ? 5 : 1;
    }
    return length;
}

void append_quoted(std::string& out, std::string_view text) {
    // Keys and most values are short and need no escape: quote them on the stack and append
    // once, rather than growing the output three times per string.
    if (text.size() <= short_text) {
        char quoted[short_text + 2];
        quoted[0] = '"';
        std::size_t at = 0;
        for (; at < text.size(); ++at) {
            const char byte = text[at];
            if (escape_table[static_cast<std::uint8_t>(byte)] != 0) break;
            quoted[at + 1] = byte;
        }
        if (at == text.size()) {
            quoted[at + 1] = '"';
            out.append(quoted, at + 2);
            return;
        }
    }

    out.push_back('"');
    std::size_t copied_up_to = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<std::uint8_t>(text[at]);
        const char escape = escape_table[byte];
        if (escape == 0) continue;

        // Copy the run of plain bytes before this one in one go.
        out.append(text.data() + copied_up_to, at - copied_up_to);
        copied_up_to = at + 1;
        if (escape == 'u') {
            const char sequence[] = {'\\', 'u', '0', '0', hex_digits[byte >> 4],
                                     hex_digits[byte & 0xF]};
            out.append(sequence, sizeof sequence);
        } else {
            const char sequence[] = {'\\', escape};
            out.append(sequence, sizeof sequence);
        }
    }
    out.append(text.data() + copied_up_to, text.size() - copied_up_to);
    out.push_back('"');
}

}  // namespace json
