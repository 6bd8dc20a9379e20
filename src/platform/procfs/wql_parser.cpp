// The query text token by token: the fixed head, then ProcessId=<n> conditions joined by OR.

#include "platform/procfs/wql_parser.hpp"

#include "text/decimal.hpp"

namespace procfs {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_';
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Splits the text into words (letters, digits, underscore) and the single characters ',' and
// '='. Any other character makes the next token empty, which no rule accepts.
class Tokens {
public:
    explicit Tokens(std::string_view text) : rest_(text) {}

    std::string_view next() {
        while (!rest_.empty() && is_blank(rest_.front())) rest_.remove_prefix(1);
        if (rest_.empty()) return {};
        std::size_t length = 0;
        if (rest_.front() == ',' || rest_.front() == '=') {
            length = 1;
        } else {
            while (length < rest_.size() && is_word_char(rest_[length])) ++length;
        }
        const std::string_view token = rest_.substr(0, length);
        rest_.remove_prefix(length);
        return token;
    }

    bool at_end() {
        while (!rest_.empty() && is_blank(rest_.front())) rest_.remove_prefix(1);
        return rest_.empty();
    }

    // Takes the next token and tells whether it is `expected`, ignoring case.
    bool take(std::string_view expected) {
        const std::string_view token = next();
        if (token.size() != expected.size() || token.empty()) return false;
        for (std::size_t i = 0; i < token.size(); ++i) {
            if (lower(token[i]) != lower(expected[i])) return false;
        }
        return true;
    }

private:
    std::string_view rest_;
};

}  // namespace

std::optional<std::vector<std::uint32_t>> parse_process_query(std::string_view query) {
    Tokens tokens{query};
    for (std::string_view word :
         {"SELECT", "ProcessId", ",", "CommandLine", "FROM", "Win32_Process", "WHERE"}) {
        if (!tokens.take(word)) return std::nullopt;
    }
    std::vector<std::uint32_t> pids;
    do {
        if (!tokens.take("ProcessId") || !tokens.take("=")) return std::nullopt;
        const std::optional<std::uint32_t> pid = text::decimal_value<std::uint32_t>(tokens.next());
        if (!pid) return std::nullopt;
        pids.push_back(*pid);
        if (tokens.at_end()) return pids;
    } while (tokens.take("OR"));
    return std::nullopt;
}

}  // namespace procfs
