#pragma once
// The process-ID list of the command line, or of a session's request.

#include <concepts>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "diagnostics/timing_scope.hpp"
#include "pid_table/pid_table.hpp"

namespace app {

// Why the arguments give no process-ID list: one of four fixed texts.
struct PidMessage {
    std::string_view text;

    friend bool operator==(const PidMessage&, const PidMessage&) = default;
};

namespace messages {
inline constexpr std::string_view none_given = "provide at least one process ID";
inline constexpr std::string_view not_decimal = "process IDs must be positive decimal integers";
inline constexpr std::string_view out_of_range = "process ID out of range";
inline constexpr std::string_view zero = "process ID must be positive";
}  // namespace messages

using PidList = std::variant<std::vector<std::uint32_t>, PidMessage>;

// The list as its arguments come, one at a time.
class PidListReader {
public:
    // False once an argument is refused: the first that fails decides, and the rest are not
    // looked at.
    bool add(std::string_view argument);
    PidList result() &&;

private:
    // Both grow with the distinct IDs, not with the arguments: a list that repeats one ID
    // costs one entry.
    std::vector<std::uint32_t> pids_;
    pid_table::PidTable<> seen_;
    std::optional<PidMessage> refused_;
    bool any_ = false;
};

// The arguments after the command word as distinct IDs from 1 to 4294967295, in the order each
// first occurs, or the message of the first argument that is not one. Linear in the number of
// arguments. `next_argument()` hands them over one at a time, then nullopt: a session's request
// is read word by word where it lies, never split into a list of words first. Scope
// "positive_pids".
template <typename NextArgument>
    requires std::invocable<NextArgument&>
PidList positive_pids(NextArgument next_argument) {
    diagnostics::TimingScope scope{"positive_pids"};
    PidListReader list;
    while (const std::optional<std::string_view> argument = next_argument()) {
        if (!list.add(*argument)) break;
    }
    return std::move(list).result();
}

// The same over the command line's arguments.
PidList positive_pids(std::span<const std::string> arguments);

}  // namespace app
