// The texts /proc writes, read as pure functions: a process's stat line and status file as a
// probe reads them, the boot time in /proc/stat that dates a task's start, the clock ticks as
// 100-ns units, and last the cmdline that the command-line query turns into one text.

#include "platform/procfs/proc_text.hpp"

#include <cstring>
#include <limits>

#include "text/decimal.hpp"
#include "text/utf.hpp"

namespace procfs {
namespace {

// The numbers /proc writes are unsigned and fit in 64 bits.
std::optional<std::uint64_t> parse_decimal(std::string_view text) {
    return text::decimal_value<std::uint64_t>(text);
}

// ---- /proc/<pid>/stat

// Fields as proc(5) numbers them; the first after the command name is 3 (the state).
constexpr int state_field = 3;
constexpr int flags_field = 9;
constexpr int user_field = 14;
constexpr int system_field = 15;
constexpr int threads_field = 20;
constexpr int start_field = 22;
constexpr int last_layout_field = 51;

// The fields after the command name, read one after the other in a single pass: a field nobody
// needs is only stepped over. Fields are separated by spaces as the kernel writes them; the
// trailing line feed ends the last one.
class FieldReader {
public:
    explicit FieldReader(std::string_view fields)
        : at_(fields.data()), end_(fields.data() + fields.size()) {}

    // Moves to the start of the next field; false when the text has no more.
    bool next() {
        while (at_ != end_ && separates(*at_)) ++at_;
        return at_ != end_;
    }

    void skip() {
        while (at_ != end_ && !separates(*at_)) ++at_;
    }

    // The field as a number: digits only, at least one, within 64 bits.
    std::optional<std::uint64_t> number() {
        const char* const start = at_;
        skip();
        return parse_decimal({start, static_cast<std::size_t>(at_ - start)});
    }

    // A field of one byte, or nullopt for a longer one.
    std::optional<char> byte() {
        const char* const start = at_;
        skip();
        if (at_ - start != 1) return std::nullopt;
        return *start;
    }

private:
    static bool separates(char c) { return c == ' ' || c == '\n'; }

    const char* at_;
    const char* end_;
};

// The text after the command name, which ends at the last ')' (the name may hold one), or
// nullopt. memrchr looks at many bytes at a time; rfind goes back one byte at a time over the
// 250 or so bytes of fields.
std::optional<std::string_view> after_name(std::string_view text) {
    const void* close = text.empty() ? nullptr : ::memrchr(text.data(), ')', text.size());
    if (close == nullptr) return std::nullopt;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(close) - text.data());
    return text.substr(at + 1);
}

// Where a layout field goes, or null for a field the layout does not keep.
std::uint64_t* layout_slot(ImageLayout& layout, int field) {
    switch (field) {
        case 26: return &layout.start_code;
        case 27: return &layout.end_code;
        case 28: return &layout.start_stack;
        case 48: return &layout.arg_start;
        case 49: return &layout.arg_end;
        case 51: return &layout.env_end;
        default: return nullptr;
    }
}

}  // namespace

std::optional<StatFields> parse_stat(std::string_view text, StatExtent extent) {
    const std::optional<std::string_view> fields = after_name(text);
    if (!fields) {
        return std::nullopt;
    }
    const int last_field = extent == StatExtent::counts ? start_field : last_layout_field;
    FieldReader reader{*fields};
    StatFields parsed;
    for (int field = state_field; field <= last_field; ++field) {
        if (!reader.next()) {
            // Only the layout may be missing, from a kernel that does not write it all.
            if (field <= start_field) return std::nullopt;
            break;
        }
        std::uint64_t* number = nullptr;
        switch (field) {
            case state_field: {
                const auto state = reader.byte();
                if (!state) return std::nullopt;
                parsed.state = *state;
                continue;
            }
            case flags_field: number = &parsed.flags; break;
            case user_field: number = &parsed.user_ticks; break;
            case system_field: number = &parsed.system_ticks; break;
            case threads_field: number = &parsed.thread_count; break;
            case start_field: number = &parsed.start_ticks; break;
            default:
                if (std::uint64_t* slot = layout_slot(parsed.layout, field)) {
                    *slot = reader.number().value_or(0);
                } else {
                    reader.skip();
                }
                continue;
        }
        const auto value = reader.number();
        if (!value) return std::nullopt;
        *number = *value;
    }
    return parsed;
}

bool task_stopped(const StatFields& fields) {
    return fields.state == 'Z' || fields.state == 'X' || (fields.flags & task_exiting) != 0;
}

bool has_exited(const StatFields& fields) {
    return task_stopped(fields) && fields.thread_count <= 1;
}

// ---- /proc/<pid>/status

namespace {

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// "  1234 kB" in bytes; nullopt when malformed or too large for 64 bits.
std::optional<std::uint64_t> kilobytes_as_bytes(std::string_view value) {
    constexpr std::string_view unit = " kB";
    if (value.size() < unit.size() || value.substr(value.size() - unit.size()) != unit) {
        return std::nullopt;
    }
    const auto kilobytes = parse_decimal(trim_blanks(value.substr(0, value.size() - unit.size())));
    if (!kilobytes || *kilobytes > std::numeric_limits<std::uint64_t>::max() / 1024) {
        return std::nullopt;
    }
    return *kilobytes * 1024;
}

}  // namespace

StatusFields parse_status(std::string_view text) {
    // The three lines sit in the first third of the file, Tgid before VmHWM before VmRSS: the
    // scan stops once it has all three, and looks closer only at lines starting with T or V.
    StatusFields fields;
    bool thread_group_seen = false;
    bool resident_seen = false;
    bool peak_seen = false;
    while (!text.empty() && !(thread_group_seen && resident_seen && peak_seen)) {
        const void* feed = std::memchr(text.data(), '\n', text.size());
        const std::size_t end = feed == nullptr ? text.size()
                                                : static_cast<std::size_t>(
                                                      static_cast<const char*>(feed) - text.data());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(feed == nullptr ? text.size() : end + 1);
        if (line.empty() || (line.front() != 'T' && line.front() != 'V')) {
            continue;
        }

        // A key holds no colon, so the line starting with it and a colon is its line.
        if (line.starts_with("Tgid:")) {
            fields.thread_group = parse_decimal(trim_blanks(line.substr(5)));
            thread_group_seen = true;
        } else if (line.starts_with("VmRSS:")) {
            const auto resident = kilobytes_as_bytes(trim_blanks(line.substr(6)));
            fields.has_memory = resident.has_value();
            fields.resident_bytes = resident.value_or(0);
            resident_seen = true;
        } else if (line.starts_with("VmHWM:")) {
            fields.peak_resident_bytes = kilobytes_as_bytes(trim_blanks(line.substr(6))).value_or(0);
            peak_seen = true;
        }
    }
    return fields;
}

// ---- /proc/stat

std::optional<std::uint64_t> parse_boot_time(std::string_view text) {
    constexpr std::string_view key = "btime ";
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.substr(0, key.size()) == key) {
            line.remove_prefix(key.size());
            return parse_decimal(line);
        }
    }
    return std::nullopt;
}

// ---- Clock ticks as 100-ns units

std::uint64_t ticks_to_units(std::uint64_t ticks, std::uint64_t ticks_per_second) {
    if (ticks_per_second == 0) {
        return 0;
    }
    const auto whole = ticks / ticks_per_second;
    const auto rest = ticks % ticks_per_second;
    return whole * units_per_second + rest * units_per_second / ticks_per_second;
}

std::uint64_t creation_units(std::uint64_t boot_seconds, std::uint64_t start_ticks,
                             std::uint64_t ticks_per_second) {
    return unix_epoch_units + boot_seconds * units_per_second +
           ticks_to_units(start_ticks, ticks_per_second);
}

platform::FileTime to_file_time(std::uint64_t units) {
    return {static_cast<std::uint32_t>(units), static_cast<std::uint32_t>(units >> 32)};
}

// ---- /proc/<pid>/cmdline as one text

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

namespace {

// A title as it stands; nullopt when it is empty. A zero byte can be left in it only by a read
// cut short, and shows as a space, as ps shows it.
std::optional<std::string> title(std::string_view bytes) {
    if (bytes.empty()) return std::nullopt;
    std::string shown = text::sanitize_utf8(bytes);
    for (char& c : shown) {
        if (c == '\0') c = ' ';
    }
    return shown;
}

// The arguments of a vector whose final zero byte is taken off, each quoted, joined by single
// spaces.
std::string quoted_arguments(std::string_view arguments) {
    // Measured first, so a long command line is written once into a block of its own length.
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

}  // namespace

std::optional<std::string> command_line_from_cmdline(std::string_view raw,
                                                     std::optional<std::uint64_t> argument_area) {
    if (raw.empty()) return std::nullopt;
    // A title written past the argument area, which the kernel gives up to its first zero.
    if (argument_area && *argument_area != raw.size()) {
        return title(raw.substr(0, raw.find('\0')));
    }
    if (raw.back() != '\0') return title(raw);

    // A title padded with zero bytes to the area's end is one string: nothing but padding
    // follows its first zero byte. An argument vector has a zero byte after each argument, so
    // one of two or more arguments (empty ones included) has a zero byte before its last run.
    const std::size_t last_text = raw.find_last_not_of('\0');
    const std::string_view before_padding =
        raw.substr(0, last_text == std::string_view::npos ? 0 : last_text + 1);
    const bool padded = raw.size() - before_padding.size() >= 2;
    if (padded && before_padding.find('\0') == std::string_view::npos) {
        return title(before_padding);
    }
    return quoted_arguments(raw.substr(0, raw.size() - 1));
}

bool argument_area_decides(std::string_view raw) {
    if (raw.empty() || raw.find('\0') != raw.size() - 1) return false;
    return needs_quotes(raw.substr(0, raw.size() - 1));
}

}  // namespace procfs
