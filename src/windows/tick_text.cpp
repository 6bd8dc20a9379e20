#include "windows/tick_text.hpp"

#include <charconv>

namespace windows {

std::string tick_text(std::uint64_t ticks) {
    char digits[20];  // 2^64 - 1 has 20 digits
    const auto written = std::to_chars(digits, digits + sizeof digits, ticks);
    return std::string(digits, written.ptr);
}

}  // namespace windows
