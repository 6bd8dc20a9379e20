#include "platform/procfs/stat_text.hpp"

#include <array>
#include <cstring>

#include "platform/procfs/decimal_text.hpp"

namespace procfs {
namespace {

// Positions counted from field 3 (the state), the first field after the command name.
constexpr int flags_index = 9 - 3;
constexpr int user_index = 14 - 3;
constexpr int system_index = 15 - 3;
constexpr int threads_index = 20 - 3;
constexpr int start_index = 22 - 3;

// Splits on single spaces as the kernel writes them; the trailing line feed ends the last field.
// A plain loop: string_view::find_first_of calls memchr once per byte for a set of two.
class FieldCursor {
public:
    explicit FieldCursor(std::string_view rest)
        : at_(rest.data()), end_(rest.data() + rest.size()) {}

    std::optional<std::string_view> next() {
        const char* at = at_;
        while (at != end_ && (*at == ' ' || *at == '\n')) ++at;
        if (at == end_) {
            at_ = at;
            return std::nullopt;
        }
        const char* const start = at;
        while (at != end_ && *at != ' ' && *at != '\n') ++at;
        at_ = at;
        return std::string_view{start, static_cast<std::size_t>(at - start)};
    }

private:
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

}  // namespace

std::optional<StatFields> parse_stat(std::string_view text) {
    const std::optional<std::string_view> fields = after_name(text);
    if (!fields) {
        return std::nullopt;
    }
    FieldCursor cursor{*fields};
    std::array<std::string_view, start_index + 1> field;
    for (auto& each : field) {
        const auto next = cursor.next();
        if (!next) {
            return std::nullopt;
        }
        each = *next;
    }
    const auto user = parse_decimal(field[user_index]);
    const auto system = parse_decimal(field[system_index]);
    const auto threads = parse_decimal(field[threads_index]);
    const auto start = parse_decimal(field[start_index]);
    const auto flags = parse_decimal(field[flags_index]);
    if (field[0].size() != 1 || !user || !system || !threads || !start || !flags) {
        return std::nullopt;
    }
    return StatFields{field[0].front(), *user, *system, *threads, *start, *flags};
}

bool task_stopped(const StatFields& fields) {
    return fields.state == 'Z' || fields.state == 'X' || (fields.flags & task_exiting) != 0;
}

bool has_exited(const StatFields& fields) {
    return task_stopped(fields) && fields.thread_count <= 1;
}

std::optional<std::uint64_t> parse_stat_field(std::string_view text, int number) {
    const std::optional<std::string_view> fields = after_name(text);
    if (!fields || number < 3) {
        return std::nullopt;
    }
    FieldCursor cursor{*fields};
    std::optional<std::string_view> field;
    for (int index = 3; index <= number; ++index) {
        field = cursor.next();
        if (!field) {
            return std::nullopt;
        }
    }
    return parse_decimal(*field);
}

}  // namespace procfs
