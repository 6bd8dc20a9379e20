// The /proc/<pid>/cmdline reader: the argument vector joined into one command-line text.
//
// Properties, for any bytes:
// - the text is valid UTF-8;
// - no bytes give no text; bytes without a final zero (a rewritten title) give the bytes
//   themselves, sanitized;
// - bytes ending in two or more zeros (a title padded with them) give the bytes before that
//   padding, sanitized, each zero left among them a space; no text when only zeros remain;
// - otherwise (one final zero) a POSIX shell splits the text back into the arguments, each
//   sanitized.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "platform/procfs/proc_text.hpp"
#include "text/utf.hpp"

namespace {

// Word splitting as a POSIX shell does it for blanks, single quotes and backslashes, which
// is all the quoting can produce; nullopt on an unterminated quote or a dangling backslash.
std::optional<std::vector<std::string>> shell_split(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) return std::nullopt;
            word.append(line.substr(i + 1, close - i - 1));
            in_word = true;
            i = close;
        } else if (c == '\\') {
            if (++i == line.size()) return std::nullopt;
            word.push_back(line[i]);
            in_word = true;
        } else {
            word.push_back(c);
            in_word = true;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::vector<std::string> sanitized_arguments(std::string_view raw) {
    std::vector<std::string> arguments;
    raw.remove_suffix(1);  // the final zero
    while (true) {
        const std::size_t end = raw.find('\0');
        arguments.push_back(text::sanitize_utf8(raw.substr(0, end)));
        if (end == std::string_view::npos) break;
        raw.remove_prefix(end + 1);
    }
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const auto line = procfs::command_line_from_cmdline(raw);
    if (raw.empty()) {
        FUZZ_CHECK(!line.has_value());
        return 0;
    }
    if (raw.size() >= 2 && raw.substr(raw.size() - 2) == std::string_view("\0\0", 2)) {
        const std::size_t end = raw.find_last_not_of('\0');
        if (end == std::string_view::npos) {
            FUZZ_CHECK(!line.has_value());
            return 0;
        }
        std::string title = text::sanitize_utf8(raw.substr(0, end + 1));
        for (char& c : title) c = c == '\0' ? ' ' : c;
        FUZZ_CHECK(line.has_value() && *line == title);
        return 0;
    }
    FUZZ_CHECK(line.has_value());
    FUZZ_CHECK(text::is_valid_utf8(*line));
    if (raw.back() != '\0') {
        FUZZ_CHECK(*line == text::sanitize_utf8(raw));
        return 0;
    }
    const auto words = shell_split(*line);
    FUZZ_CHECK(words.has_value());
    FUZZ_CHECK(*words == sanitized_arguments(raw));
    return 0;
}
