#pragma once
// Unsigned decimal numbers as /proc writes them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace procfs {

// The whole text must be digits that fit in 64 bits. A plain loop: from_chars costs several
// times as much for the handful of short numbers read per process.
inline std::optional<std::uint64_t> parse_decimal(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<unsigned>(static_cast<unsigned char>(c) - '0');
        if (digit > 9 || __builtin_mul_overflow(value, 10u, &value) ||
            __builtin_add_overflow(value, digit, &value)) {
            return std::nullopt;
        }
    }
    return value;
}

}  // namespace procfs
