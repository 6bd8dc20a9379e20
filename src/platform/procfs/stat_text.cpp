#include "platform/procfs/stat_text.hpp"

#include <array>

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
class FieldCursor {
public:
    explicit FieldCursor(std::string_view rest) : rest_(rest) {}

    std::optional<std::string_view> next() {
        while (!rest_.empty() && (rest_.front() == ' ' || rest_.front() == '\n')) {
            rest_.remove_prefix(1);
        }
        if (rest_.empty()) {
            return std::nullopt;
        }
        const auto end = rest_.find_first_of(" \n");
        const auto field = rest_.substr(0, end);
        rest_.remove_prefix(field.size());
        return field;
    }

private:
    std::string_view rest_;
};

}  // namespace

std::optional<StatFields> parse_stat(std::string_view text) {
    const auto close = text.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    FieldCursor cursor{text.substr(close + 1)};
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
    const auto close = text.rfind(')');
    if (close == std::string_view::npos || number < 3) {
        return std::nullopt;
    }
    FieldCursor cursor{text.substr(close + 1)};
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
