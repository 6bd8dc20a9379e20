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

// The length append_shell_quoted gives `argument`.
std::size_t quoted_length(std::string_view argument) {
    if (!needs_quotes(argument)) return argument.size();
    std::size_t length = argument.size() + 2;
    for (char c : argument) {
        if (c == '\'') length += 3;
    }
    return length;
}

// Calls visit(argument, first) for each zero-separated argument of `arguments`.
template <typename Visit>
void each_argument(std::string_view arguments, Visit visit) {
    for (bool first = true;; first = false) {
        const std::size_t end = arguments.find('\0');
        visit(arguments.substr(0, end), first);
        if (end == std::string_view::npos) return;
        arguments.remove_prefix(end + 1);
    }
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

    // Measured first, so a long command line is written once into a block of its own length.
    const std::string_view arguments = raw.substr(0, raw.size() - 1);
    std::size_t length = 0;
    each_argument(arguments, [&](std::string_view argument, bool first) {
        length += (first ? 0 : 1) + quoted_length(argument);
    });
    std::string joined;
    joined.reserve(length);
    each_argument(arguments, [&](std::string_view argument, bool first) {
        if (!first) joined.push_back(' ');
        append_shell_quoted(joined, argument);
    });
    // Quoting adds only ASCII, so an invalid sequence is replaced exactly as in its argument.
    text::sanitize_utf8_in_place(joined);
    return joined;
}

}  // namespace procfs
