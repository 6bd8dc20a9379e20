#pragma once
// Unsigned decimal numbers as /proc writes them.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace procfs {

// The whole text must be digits that fit in 64 bits.
inline std::optional<std::uint64_t> parse_decimal(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace procfs
