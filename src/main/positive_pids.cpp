// The ID list: each argument read in turn, repeats dropped through the table of IDs seen.
#include "main/positive_pids.hpp"

#include "text/decimal.hpp"

namespace app {
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

bool PidListReader::add(std::string_view argument) {
    any_ = true;
    auto parsed = parse_pid(argument);
    if (const auto* message = std::get_if<PidMessage>(&parsed)) {
        refused_ = *message;
        return false;
    }
    const std::uint32_t pid = std::get<std::uint32_t>(parsed);
    if (seen_.insert(pid).added) pids_.push_back(pid);
    return true;
}

PidList PidListReader::result() && {
    if (!any_) return PidMessage{messages::none_given};
    if (refused_) return *refused_;
    return std::move(pids_);
}

PidList positive_pids(std::span<const std::string> arguments) {
    auto next = arguments.begin();
    return positive_pids([&]() -> std::optional<std::string_view> {
        if (next == arguments.end()) return std::nullopt;
        return *next++;
    });
}

}  // namespace app
