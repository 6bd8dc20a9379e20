// The ID list: each argument read in turn, repeats dropped through the table of IDs seen.
#include "sample/positive_pids.hpp"

#include "diagnostics/timing_scope.hpp"
#include "pid_table/pid_table.hpp"

namespace sample {
namespace {

// The value of an argument, or the message that rejects it. Every byte is checked for being a
// digit even after an overflow, so "99999999999x" is not decimal rather than out of range.
std::variant<std::uint32_t, PidMessage> parse_pid(std::string_view argument) {
    if (argument.empty()) return PidMessage{messages::not_decimal};
    std::uint32_t value = 0;
    bool overflow = false;
    for (const char byte : argument) {
        if (byte < '0' || byte > '9') return PidMessage{messages::not_decimal};
        const auto digit = static_cast<std::uint32_t>(byte - '0');
        if (overflow || __builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, digit, &value)) {
            overflow = true;
        }
    }
    if (overflow) return PidMessage{messages::out_of_range};
    if (value == 0) return PidMessage{messages::zero};
    return value;
}

}  // namespace

std::variant<std::vector<std::uint32_t>, PidMessage> positive_pids(
    std::span<const std::string> arguments) {
    diagnostics::TimingScope scope{"positive_pids"};
    if (arguments.empty()) return PidMessage{messages::none_given};

    // Both grow with the distinct IDs, not with the arguments: a list that repeats one ID costs
    // one entry.
    std::vector<std::uint32_t> pids;
    pid_table::PidTable<> seen;
    for (const std::string& argument : arguments) {
        auto parsed = parse_pid(argument);
        if (const auto* message = std::get_if<PidMessage>(&parsed)) return *message;
        const std::uint32_t pid = std::get<std::uint32_t>(parsed);
        if (seen.insert(pid).added) pids.push_back(pid);
    }
    return pids;
}

}  // namespace sample
