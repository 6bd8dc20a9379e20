// The reader, top down: a value, its kinds (object, array, string, number), then the exact forms
// a number may take. It does not use the tool's own JSON or text code, so it checks them rather
// than repeating them.
#include "support/strict_json.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace testing_support {
namespace {

// Deeper than anything the tool or the writer's fuzz target builds; stops runaway recursion on
// bad text.
constexpr int max_depth = 256;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Reader {
public:
    Reader(std::string_view text, Strings strings) : text_(text), strings_(strings) {}

    std::optional<JsonNode> document() {
        auto value = read_value(0);
        if (!value || at_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    bool at_end() const { return at_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[at_]; }
    bool take(char wanted) {
        if (peek() != wanted || at_end()) return false;
        ++at_;
        return true;
    }
    bool take_word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    std::optional<JsonNode> read_value(int depth) {
        if (depth > max_depth) return std::nullopt;
        JsonNode node;
        const char c = peek();
        if (c == '{') return read_object(depth);
        if (c == '[') return read_array(depth);
        if (c == '"') {
            auto text = read_string();
            if (!text) return std::nullopt;
            node.kind = JsonNode::Kind::string;
            node.text = std::move(*text);
            return node;
        }
        if (c == '-' || is_digit(c)) return read_number();
        if (take_word("null")) return node;
        node.kind = JsonNode::Kind::boolean;
        if (take_word("true")) {
            node.boolean = true;
            return node;
        }
        if (take_word("false")) return node;
        return std::nullopt;
    }

    std::optional<JsonNode> read_object(int depth) {
        take('{');
        JsonNode node;
        node.kind = JsonNode::Kind::object;
        if (take('}')) return node;
        do {
            if (peek() != '"') return std::nullopt;
            auto key = read_string();
            if (!key || !take(':')) return std::nullopt;
            // Byte order, each key once: std::string compares its bytes as unsigned.
            if (!node.members.empty() && !(node.members.back().first < *key)) return std::nullopt;
            auto value = read_value(depth + 1);
            if (!value) return std::nullopt;
            node.members.push_back(JsonMember{std::move(*key), std::move(*value)});
        } while (take(','));
        if (!take('}')) return std::nullopt;
        return node;
    }

    std::optional<JsonNode> read_array(int depth) {
        take('[');
        JsonNode node;
        node.kind = JsonNode::Kind::array;
        if (take(']')) return node;
        do {
            auto item = read_value(depth + 1);
            if (!item) return std::nullopt;
            node.items.push_back(std::move(*item));
        } while (take(','));
        if (!take(']')) return std::nullopt;
        return node;
    }

    // The writer escapes the quote, the backslash and the control bytes, nothing else: the
    // five with a short escape by it, the others as \u00xx in lower-case hex.
    std::optional<std::string> read_string() {
        take('"');
        std::string out;
        for (;;) {
            if (at_end()) return std::nullopt;
            const auto byte = static_cast<unsigned char>(text_[at_]);
            if (byte == '"') {
                ++at_;
                return out;
            }
            if (byte < 0x20) return std::nullopt;
            if (byte >= 0x80) {
                const std::size_t length = strings_ == Strings::utf8 ? utf8_sequence() : 1;
                if (length == 0) return std::nullopt;
                out.append(text_.substr(at_, length));
                at_ += length;
                continue;
            }
            ++at_;
            if (byte != '\\') {
                out.push_back(static_cast<char>(byte));
                continue;
            }
            const auto escaped = read_escape();
            if (!escaped) return std::nullopt;
            out.push_back(*escaped);
        }
    }

    std::optional<char> read_escape() {
        if (at_end()) return std::nullopt;
        switch (text_[at_++]) {
        case '"': return '"';
        case '\\': return '\\';
        case 'b': return '\b';
        case 't': return '\t';
        case 'n': return '\n';
        case 'f': return '\f';
        case 'r': return '\r';
        case 'u': break;
        default: return std::nullopt;
        }
        if (!take_word("00")) return std::nullopt;
        int value = 0;
        for (int i = 0; i < 2; ++i) {
            const char c = peek();
            if (is_digit(c)) {
                value = value * 16 + (c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value = value * 16 + (c - 'a' + 10);
            } else {
                return std::nullopt;
            }
            ++at_;
        }
        const char byte = static_cast<char>(value);
        if (value >= 0x20 || byte == '\b' || byte == '\t' || byte == '\n' || byte == '\f' ||
            byte == '\r') {
            return std::nullopt;
        }
        return byte;
    }

    // The length of the well-formed UTF-8 sequence at the read position (a byte of 0x80 or
    // above), or 0: no overlong forms, no surrogates, nothing beyond U+10FFFF.
    std::size_t utf8_sequence() const {
        const auto byte = [&](std::size_t i) {
            return at_ + i < text_.size() ? static_cast<unsigned char>(text_[at_ + i]) : 0u;
        };
        const unsigned lead = byte(0);
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return 0;
        }
        // Only the second byte has narrowed bounds; the rest are plain continuation bytes.
        if (byte(1) < low || byte(1) > high) return 0;
        for (std::size_t i = 2; i < length; ++i) {
            if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
        }
        return length;
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?(e[+-][0-9]+)? as the grammar allows, then held to the forms
    // the writer gives: integers within 64 bits and never "-0", doubles finite and in their
    // one form.
    std::optional<JsonNode> read_number() {
        const std::size_t start = at_;
        const bool negative = take('-');
        const std::size_t digits_start = at_;
        if (take('0')) {
            if (is_digit(peek())) return std::nullopt;
        } else {
            if (!is_digit(peek())) return std::nullopt;
            while (is_digit(peek())) ++at_;
        }
        const std::size_t digits_end = at_;
        bool is_double = false;
        if (take('.')) {
            is_double = true;
            if (!is_digit(peek())) return std::nullopt;
            while (is_digit(peek())) ++at_;
        }
        if (peek() == 'e' || peek() == 'E') {
            is_double = true;
            ++at_;
            if (!take('+')) take('-');
            if (!is_digit(peek())) return std::nullopt;
            while (is_digit(peek())) ++at_;
        }
        JsonNode node;
        node.kind = JsonNode::Kind::number;
        node.text = std::string(text_.substr(start, at_ - start));

        if (is_double) {
            const double number = std::strtod(node.text.c_str(), nullptr);
            if (!std::isfinite(number) || !has_double_form(node.text, number)) return std::nullopt;
            return node;
        }
        std::uint64_t magnitude = 0;
        for (std::size_t i = digits_start; i < digits_end; ++i) {
            if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
                __builtin_add_overflow(magnitude, std::uint64_t(text_[i] - '0'), &magnitude)) {
                return std::nullopt;
            }
        }
        // A negative integer is written only for a negative value, down to -2^63.
        if (negative && (magnitude == 0 || magnitude > (std::uint64_t{1} << 63))) {
            return std::nullopt;
        }
        return node;
    }

    std::string_view text_;
    Strings strings_;
    std::size_t at_ = 0;
};

// The digits and decimal exponent of a written double: |x| = d1.d2...dn × 10^exponent.
struct Decimal {
    std::string digits;  // d1 not zero, dn not zero
    int exponent = 0;
};

bool all_digits(std::string_view text) {
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool reads_back(const std::string& text, double number) {
    const double read = std::strtod(text.c_str(), nullptr);
    return std::memcmp(&read, &number, sizeof read) == 0;
}

// d[.ddd]e±g with g outside the plain range.
std::optional<Decimal> exponent_form(std::string_view text) {
    const std::size_t e = text.find('e');
    const std::string_view mantissa = text.substr(0, e);
    std::string_view power = text.substr(e + 1);
    Decimal decimal;
    if (mantissa.empty() || mantissa[0] < '1' || mantissa[0] > '9') return std::nullopt;
    decimal.digits.push_back(mantissa[0]);
    if (mantissa.size() > 1) {
        const std::string_view rest = mantissa.substr(1);
        if (rest.size() < 2 || rest[0] != '.' || !all_digits(rest.substr(1))) return std::nullopt;
        decimal.digits += rest.substr(1);
        if (decimal.digits.back() == '0') return std::nullopt;
    }
    if (power.size() < 2 || (power[0] != '+' && power[0] != '-')) return std::nullopt;
    const bool negative = power[0] == '-';
    power.remove_prefix(1);
    if (!all_digits(power) || power[0] == '0' || power.size() > 3) return std::nullopt;
    const int magnitude = std::atoi(std::string(power).c_str());
    decimal.exponent = negative ? -magnitude : magnitude;
    if (decimal.exponent >= -5 && decimal.exponent <= 15) return std::nullopt;
    return decimal;
}

// 0.000ddd, ddd.ddd or ddd000.0 with g inside the plain range.
std::optional<Decimal> plain_form(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) return std::nullopt;
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = text.substr(point + 1);
    if (whole.empty() || fraction.empty() || !all_digits(whole) || !all_digits(fraction)) {
        return std::nullopt;
    }
    Decimal decimal;
    if (whole == "0") {
        const std::size_t zeros = fraction.find_first_not_of('0');
        if (zeros == std::string_view::npos || fraction.back() == '0') return std::nullopt;
        decimal.digits = std::string(fraction.substr(zeros));
        decimal.exponent = -static_cast<int>(zeros) - 1;
        if (decimal.exponent < -5) return std::nullopt;
        return decimal;
    }
    if (whole[0] == '0') return std::nullopt;
    decimal.exponent = static_cast<int>(whole.size()) - 1;
    if (decimal.exponent > 15) return std::nullopt;
    if (fraction == "0") {
        decimal.digits = std::string(whole.substr(0, whole.find_last_not_of('0') + 1));
    } else {
        if (fraction.back() == '0') return std::nullopt;
        decimal.digits = std::string(whole) + std::string(fraction);
    }
    return decimal;
}

// No string of one digit fewer reads back. Such a string is c × 10^(g−n+2), and one that
// reads back lies within a unit of the last written digit of the value, so only the few c
// around D / 10 can.
bool is_shortest(const Decimal& decimal, bool negative, double number) {
    const int n = static_cast<int>(decimal.digits.size());
    if (n > 17) return false;
    if (n == 1) return true;
    const std::uint64_t shorter = std::strtoull(decimal.digits.c_str(), nullptr, 10) / 10;
    for (std::uint64_t candidate = shorter == 0 ? 0 : shorter - 1; candidate <= shorter + 2;
         ++candidate) {
        if (candidate == 0) continue;
        const std::string text = std::string(negative ? "-" : "") + std::to_string(candidate) +
                                 "e" + std::to_string(decimal.exponent - n + 2);
        if (reads_back(text, number)) return false;
    }
    return true;
}

}  // namespace

const JsonNode* JsonNode::find(std::string_view key) const {
    for (const auto& [name, value] : members) {
        if (name == key) return &value;
    }
    return nullptr;
}

bool JsonNode::is_integer() const {
    return kind == Kind::number && text.find_first_of(".eE") == std::string::npos;
}

std::uint64_t JsonNode::as_unsigned() const {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::int64_t JsonNode::as_signed() const {
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

double JsonNode::as_double() const { return std::strtod(text.c_str(), nullptr); }

std::optional<JsonNode> read_json(std::string_view text, Strings strings) {
    return Reader(text, strings).document();
}

std::optional<JsonNode> read_json_line(std::string_view line) {
    if (!line.ends_with('\n')) return std::nullopt;
    line.remove_suffix(1);
    return read_json(line);
}

bool has_double_form(std::string_view written, double number) {
    const bool negative = std::signbit(number);
    if (negative != (!written.empty() && written[0] == '-')) return false;
    const std::string_view unsigned_text = negative ? written.substr(1) : written;
    if (number == 0.0) return unsigned_text == "0.0";

    const bool exponent_notation = unsigned_text.find('e') != std::string_view::npos;
    const auto decimal =
        exponent_notation ? exponent_form(unsigned_text) : plain_form(unsigned_text);
    if (!decimal) return false;
    return reads_back(std::string(written), number) && is_shortest(*decimal, negative, number);
}

}  // namespace testing_support
