// The /proc/<pid>/cmdline reader: the argument vector joined into one command-line text.
//
// Properties, for any bytes, read with no argument area, with one as long as the bytes and
// with one of another length:
// - the text is valid UTF-8, and no bytes give no text;
// - with an area of another length: the bytes up to the first zero byte, sanitized (no text
//   when that is empty);
// - otherwise, bytes without a final zero give the bytes themselves, sanitized, each zero
//   among them a space;
// - bytes ending in two or more zeros with no zero before them (a title padded with them)
//   give the bytes before that padding, sanitized; no text when only zeros remain;
// - otherwise a POSIX shell splits the text back into the arguments, each sanitized, empty
//   ones included;
// - what argument_area_decides says does not hang on the area reads the same with an area of
//   another length, as long as the bytes hold no zero byte before their last.

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

// The text of `raw` by the bytes alone, as the properties above describe it.
void check_by_bytes(std::string_view raw, const std::optional<std::string>& line) {
    if (raw.back() != '\0') {
        std::string title = text::sanitize_utf8(raw);
        for (char& c : title) c = c == '\0' ? ' ' : c;
        FUZZ_CHECK(line.has_value() && *line == title);
        return;
    }
    const std::size_t end = raw.find_last_not_of('\0');
    const std::string_view head = raw.substr(0, end == std::string_view::npos ? 0 : end + 1);
    if (raw.size() - head.size() >= 2 && head.find('\0') == std::string_view::npos) {
        if (head.empty()) {
            FUZZ_CHECK(!line.has_value());
        } else {
            FUZZ_CHECK(line.has_value() && *line == text::sanitize_utf8(head));
        }
        return;
    }
    FUZZ_CHECK(line.has_value());
    const auto words = shell_split(*line);
    FUZZ_CHECK(words.has_value());
    FUZZ_CHECK(*words == sanitized_arguments(raw));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    const auto line = procfs::command_line_from_cmdline(raw);
    const auto whole_area = procfs::command_line_from_cmdline(raw, raw.size());
    const auto other_area = procfs::command_line_from_cmdline(raw, raw.size() + 1);
    if (raw.empty()) {
        FUZZ_CHECK(!line && !whole_area && !other_area);
        return 0;
    }
    for (const auto* text : {&line, &whole_area, &other_area}) {
        FUZZ_CHECK(!text->has_value() || text::is_valid_utf8(**text));
    }
    FUZZ_CHECK(whole_area == line);
    check_by_bytes(raw, line);

    const std::string_view title = raw.substr(0, raw.find('\0'));
    if (title.empty()) {
        FUZZ_CHECK(!other_area.has_value());
    } else {
        FUZZ_CHECK(other_area.has_value() && *other_area == text::sanitize_utf8(title));
    }
    if (!procfs::argument_area_decides(raw) && raw.find('\0') >= raw.size() - 1) {
        FUZZ_CHECK(other_area == line);
    }
    return 0;
}
