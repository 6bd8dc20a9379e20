#include <charconv>
#include <string_view>

#include "windows/command_line_query.hpp"

namespace windows {

std::string command_line_query(const std::vector<std::uint32_t>& pids) {
    constexpr std::string_view prefix = "SELECT ProcessId, CommandLine FROM Win32_Process WHERE ";
    constexpr std::string_view condition = "ProcessId=";
    constexpr std::string_view separator = " OR ";
    constexpr std::size_t max_digits = 10;

    // One pass with the room reserved up front: tens of thousands of IDs stay linear.
    std::string text;
    text.reserve(prefix.size() + pids.size() * (separator.size() + condition.size() + max_digits));
    text += prefix;
    bool first = true;
    for (const std::uint32_t pid : pids) {
        if (!first) text += separator;
        first = false;
        text += condition;
        char digits[max_digits];
        const auto written = std::to_chars(digits, digits + max_digits, pid);
        text.append(digits, written.ptr);
    }
    return text;
}

}  // namespace windows
