#include "platform/procfs/shell_quote.hpp"

#include "text/utf.hpp"

namespace procfs {

namespace {

bool stands_unquoted(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '_': case '@': case '%': case '+': case '=': case ':': case ',': case '.':
        case '/': case '-':
            return true;
        default:
            return false;
    }
}

bool needs_quotes(std::string_view argument) {
    if (argument.empty()) return true;
    for (char c : argument) {
        if (!stands_unquoted(c)) return true;
    }
    return false;
}

}  // namespace

void append_shell_quoted(std::string& out, std::string_view argument) {
    if (!needs_quotes(argument)) {
        out.append(argument);
        return;
    }
    out.push_back('\'');
    for (char c : argument) {
        if (c == '\'') {
            out.append("'\\''");
        } else {
            out.push_back(c);
        }
    }
    out.push_back('\'');
}

std::optional<std::string> command_line_from_cmdline(std::string_view raw) {
    if (raw.empty()) return std::nullopt;
    if (raw.back() != '\0') return text::sanitize_utf8(raw);

    std::string joined;
    joined.reserve(raw.size() + 16);
    std::string_view rest = raw.substr(0, raw.size() - 1);
    for (bool first = true;; first = false) {
        const std::size_t end = rest.find('\0');
        if (!first) joined.push_back(' ');
        append_shell_quoted(joined, rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    // Quoting adds only ASCII, so an invalid sequence is replaced exactly as in its argument.
    return text::sanitize_utf8(joined);
}

}  // namespace procfs
