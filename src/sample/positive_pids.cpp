// The ID list: each argument read in turn, repeats dropped through one flat table.
#include "sample/positive_pids.hpp"

#include <bit>
#include <cstddef>
#include <optional>

#include "diagnostics/timing_scope.hpp"

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

// The IDs seen so far, in one block: open addressing with linear probing, sized to stay at most
// half full, with 0 (never a valid ID) marking a free slot. A node-based set would allocate once
// per ID.
class SeenPids {
public:
    explicit SeenPids(std::size_t most)
        : slots_(std::bit_ceil(2 * most + 2), 0), mask_(slots_.size() - 1) {}

    // True when `pid` (non-zero) was not there before.
    bool insert(std::uint32_t pid) {
        // Fibonacci hashing spreads runs of consecutive IDs over the table.
        std::size_t at = ((pid * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
        while (slots_[at] != 0) {
            if (slots_[at] == pid) return false;
            at = (at + 1) & mask_;
        }
        slots_[at] = pid;
        return true;
    }

private:
    std::vector<std::uint32_t> slots_;
    std::size_t mask_;
};

}  // namespace

std::variant<std::vector<std::uint32_t>, PidMessage> positive_pids(
    std::span<const std::string> arguments) {
    diagnostics::TimingScope scope{"positive_pids"};
    if (arguments.empty()) return PidMessage{messages::none_given};

    std::vector<std::uint32_t> pids;
    pids.reserve(arguments.size());
    SeenPids seen(arguments.size());
    for (const std::string& argument : arguments) {
        auto parsed = parse_pid(argument);
        if (const auto* message = std::get_if<PidMessage>(&parsed)) return *message;
        const std::uint32_t pid = std::get<std::uint32_t>(parsed);
        if (seen.insert(pid)) pids.push_back(pid);
    }
    return pids;
}

}  // namespace sample
