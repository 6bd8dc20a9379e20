#include "e2e/linux/json_reader.hpp"

#include <charconv>

namespace e2e {
namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : rest_(text) {}

    std::optional<JsonNode> document() {
        auto value = parse_value(0);
        skip_blanks();
        if (!value || !rest_.empty()) {
            return std::nullopt;
        }
        return value;
    }

private:
    void skip_blanks() {
        while (!rest_.empty() && (rest_[0] == ' ' || rest_[0] == '\n' || rest_[0] == '\t' ||
                                  rest_[0] == '\r')) {
            rest_.remove_prefix(1);
        }
    }

    bool take(std::string_view word) {
        if (rest_.substr(0, word.size()) != word) {
            return false;
        }
        rest_.remove_prefix(word.size());
        return true;
    }

    std::optional<JsonNode> parse_value(int depth) {
        if (depth > 64) {
            return std::nullopt;
        }
        skip_blanks();
        if (rest_.empty()) {
            return std::nullopt;
        }
        JsonNode node;
        switch (rest_[0]) {
        case 'n':
            return take("null") ? std::optional{node} : std::nullopt;
        case 't':
        case 'f':
            node.kind = JsonNode::Kind::boolean;
            node.boolean = rest_[0] == 't';
            return take(node.boolean ? "true" : "false") ? std::optional{node} : std::nullopt;
        case '"': {
            auto text = parse_string();
            if (!text) {
                return std::nullopt;
            }
            node.kind = JsonNode::Kind::string;
            node.text = std::move(*text);
            return node;
        }
        case '[':
            return parse_array(depth);
        case '{':
            return parse_object(depth);
        default:
            return parse_number();
        }
    }

    std::optional<JsonNode> parse_number() {
        std::size_t length = 0;
        auto digits = [&] {
            const auto start = length;
            while (length < rest_.size() && rest_[length] >= '0' && rest_[length] <= '9') {
                ++length;
            }
            return length - start;
        };
        if (length < rest_.size() && rest_[length] == '-') {
            ++length;
        }
        const auto first = length;
        const auto whole = digits();
        if (whole == 0 || (whole > 1 && rest_[first] == '0')) {
            return std::nullopt;
        }
        if (length < rest_.size() && rest_[length] == '.') {
            ++length;
            if (digits() == 0) {
                return std::nullopt;
            }
        }
        if (length < rest_.size() && (rest_[length] == 'e' || rest_[length] == 'E')) {
            ++length;
            if (length < rest_.size() && (rest_[length] == '+' || rest_[length] == '-')) {
                ++length;
            }
            if (digits() == 0) {
                return std::nullopt;
            }
        }
        JsonNode node;
        node.kind = JsonNode::Kind::number;
        node.text = std::string{rest_.substr(0, length)};
        rest_.remove_prefix(length);
        return node;
    }

    std::optional<std::string> parse_string() {
        rest_.remove_prefix(1);
        std::string out;
        while (!rest_.empty()) {
            const char c = rest_[0];
            rest_.remove_prefix(1);
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (rest_.empty()) {
                return std::nullopt;
            }
            const char escape = rest_[0];
            rest_.remove_prefix(1);
            switch (escape) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned unit = 0;
                if (rest_.size() < 4 ||
                    std::from_chars(rest_.data(), rest_.data() + 4, unit, 16).ptr !=
                        rest_.data() + 4) {
                    return std::nullopt;
                }
                rest_.remove_prefix(4);
                // The tool escapes only control characters, so one unit is one byte here.
                if (unit >= 0x80) {
                    return std::nullopt;
                }
                out += static_cast<char>(unit);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<JsonNode> parse_array(int depth) {
        rest_.remove_prefix(1);
        JsonNode node;
        node.kind = JsonNode::Kind::array;
        skip_blanks();
        if (take("]")) {
            return node;
        }
        for (;;) {
            auto item = parse_value(depth + 1);
            if (!item) {
                return std::nullopt;
            }
            node.items.push_back(std::move(*item));
            skip_blanks();
            if (take("]")) {
                return node;
            }
            if (!take(",")) {
                return std::nullopt;
            }
        }
    }

    std::optional<JsonNode> parse_object(int depth) {
        rest_.remove_prefix(1);
        JsonNode node;
        node.kind = JsonNode::Kind::object;
        skip_blanks();
        if (take("}")) {
            return node;
        }
        for (;;) {
            skip_blanks();
            if (rest_.empty() || rest_[0] != '"') {
                return std::nullopt;
            }
            auto key = parse_string();
            skip_blanks();
            if (!key || !take(":")) {
                return std::nullopt;
            }
            auto value = parse_value(depth + 1);
            if (!value) {
                return std::nullopt;
            }
            node.members.emplace_back(std::move(*key), std::move(*value));
            skip_blanks();
            if (take("}")) {
                return node;
            }
            if (!take(",")) {
                return std::nullopt;
            }
        }
    }

    std::string_view rest_;
};

}  // namespace

const JsonNode* JsonNode::find(std::string_view key) const {
    for (const auto& [name, value] : members) {
        if (name == key) {
            return &value;
        }
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

std::optional<JsonNode> parse_json(std::string_view text) {
    return Reader{text}.document();
}

}  // namespace e2e
