#include "strict_json_parser.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz {
namespace {

// Deep enough for anything the fuzz target builds; stops runaway recursion on bad text.
constexpr int max_depth = 256;

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<json::Value> document() {
        auto value = parse_value(0);
        if (!value || at_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    bool at_end() const { return at_ >= text_.size(); }
    char peek() const { return at_end() ? '\0' : text_[at_]; }
    bool consume(char wanted) {
        if (at_end() || text_[at_] != wanted) return false;
        ++at_;
        return true;
    }
    bool consume_word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    std::optional<json::Value> parse_value(int depth) {
        if (depth > max_depth) return std::nullopt;
        const char c = peek();
        if (c == '{') return parse_object(depth);
        if (c == '[') return parse_array(depth);
        if (c == '"') {
            auto text = parse_string();
            if (!text) return std::nullopt;
            return json::Value::string(std::move(*text));
        }
        if (c == '-' || is_digit(c)) return parse_number();
        if (consume_word("null")) return json::Value();
        if (consume_word("true")) return json::Value::boolean(true);
        if (consume_word("false")) return json::Value::boolean(false);
        return std::nullopt;
    }

    std::optional<json::Value> parse_object(int depth) {
        consume('{');
        json::Value object = json::Value::object();
        if (consume('}')) return object;
        std::optional<std::string> previous_key;
        do {
            auto key = parse_string();
            if (!key || !consume(':')) return std::nullopt;
            // Written in byte order, each key once.
            if (previous_key && !(*previous_key < *key)) return std::nullopt;
            auto value = parse_value(depth + 1);
            if (!value) return std::nullopt;
            previous_key = *key;
            object.set(std::move(*key), std::move(*value));
        } while (consume(','));
        if (!consume('}')) return std::nullopt;
        return object;
    }

    std::optional<json::Value> parse_array(int depth) {
        consume('[');
        json::Value array = json::Value::array();
        if (consume(']')) return array;
        do {
            auto value = parse_value(depth + 1);
            if (!value) return std::nullopt;
            array.push_back(std::move(*value));
        } while (consume(','));
        if (!consume(']')) return std::nullopt;
        return array;
    }

    std::optional<unsigned> parse_hex4() {
        if (text_.size() - at_ < 4) return std::nullopt;
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            value <<= 4;
            if (is_digit(c)) value |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') value |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= unsigned(c - 'A' + 10);
            else return std::nullopt;
        }
        return value;
    }

    static void append_utf8(std::string& out, char32_t code_point) {
        if (code_point < 0x80) {
            out.push_back(char(code_point));
        } else if (code_point < 0x800) {
            out.push_back(char(0xC0 | (code_point >> 6)));
            out.push_back(char(0x80 | (code_point & 0x3F)));
        } else if (code_point < 0x10000) {
            out.push_back(char(0xE0 | (code_point >> 12)));
            out.push_back(char(0x80 | ((code_point >> 6) & 0x3F)));
            out.push_back(char(0x80 | (code_point & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (code_point >> 18)));
            out.push_back(char(0x80 | ((code_point >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((code_point >> 6) & 0x3F)));
            out.push_back(char(0x80 | (code_point & 0x3F)));
        }
    }

    std::optional<char32_t> parse_unicode_escape() {
        auto unit = parse_hex4();
        if (!unit) return std::nullopt;
        if (*unit >= 0xDC00 && *unit <= 0xDFFF) return std::nullopt;
        if (*unit < 0xD800 || *unit > 0xDBFF) return char32_t(*unit);
        if (!consume('\\') || !consume('u')) return std::nullopt;
        auto low = parse_hex4();
        if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
        return char32_t(0x10000 + ((*unit - 0xD800) << 10) + (*low - 0xDC00));
    }

    std::optional<std::string> parse_string() {
        if (!consume('"')) return std::nullopt;
        std::string out;
        while (true) {
            if (at_end()) return std::nullopt;
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_end()) return std::nullopt;
            switch (text_[at_++]) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                auto code_point = parse_unicode_escape();
                if (!code_point) return std::nullopt;
                append_utf8(out, *code_point);
                break;
            }
            default: return std::nullopt;
            }
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    std::optional<json::Value> parse_number() {
        const std::size_t start = at_;
        const bool negative = consume('-');
        const std::size_t digits_start = at_;
        if (consume('0')) {
            if (is_digit(peek())) return std::nullopt;
        } else {
            if (!is_digit(peek())) return std::nullopt;
            while (is_digit(peek())) ++at_;
        }
        const std::size_t digits_end = at_;
        bool is_double = false;
        if (consume('.')) {
            is_double = true;
            if (!is_digit(peek())) return std::nullopt;
            while (is_digit(peek())) ++at_;
        }
        if (peek() == 'e' || peek() == 'E') {
            is_double = true;
            ++at_;
            if (!consume('+')) consume('-');
            if (!is_digit(peek())) return std::nullopt;
            while (is_digit(peek())) ++at_;
        }
        if (is_double) {
            const std::string token(text_.substr(start, at_ - start));
            return json::Value::from_double(std::strtod(token.c_str(), nullptr));
        }

        std::uint64_t magnitude = 0;
        for (std::size_t i = digits_start; i < digits_end; ++i) {
            if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
                __builtin_add_overflow(magnitude, std::uint64_t(text_[i] - '0'), &magnitude)) {
                return std::nullopt;
            }
        }
        if (!negative) return json::Value::from_unsigned(magnitude);
        // A negative integer is written only for a negative value, down to -2^63.
        if (magnitude == 0 || magnitude > (std::uint64_t(1) << 63)) return std::nullopt;
        return json::Value::from_signed(static_cast<std::int64_t>(0u - magnitude));
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<json::Value> parse_strict_json(std::string_view text) {
    return Parser(text).document();
}

}  // namespace fuzz
