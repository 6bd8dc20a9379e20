// The ID list: each argument read in turn, repeats dropped through the table of IDs seen.
#include "sample/positive_pids.hpp"

#include "diagnostics/timing_scope.hpp"
#include "pid_table/pid_table.hpp"
#include "text/decimal.hpp"

namespace sample {
namespace {

// The value of an argument, or the message that rejects it. Every byte is checked for being a
// digit even after an overflow, so "99999999999x" is not decimal rather than out of range.
std::variant<std::uint32_t, PidMessage> parse_pid(std::string_view argument) {
    using Kind = text::Decimal<std::uint32_t>::Kind;
    const auto read = text::read_decimal<std::uint32_t>(argument);
    if (read.kind == Kind::not_decimal) return PidMessage{messages::not_decimal};
    if (read.kind == Kind::too_large) return PidMessage{messages::out_of_range};
    if (read.value == 0) return PidMessage{messages::zero};
    return read.value;
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
