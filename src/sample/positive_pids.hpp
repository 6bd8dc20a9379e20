#pragma once
// The process-ID list of the command line.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sample {

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

// The arguments after the command word as distinct IDs from 1 to 4294967295, in the order each
// first occurs, or the message of the first argument that is not one. Linear in the number of
// arguments. Scope "positive_pids".
std::variant<std::vector<std::uint32_t>, PidMessage> positive_pids(
    std::span<const std::string> arguments);

}  // namespace sample
