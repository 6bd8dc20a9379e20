#include "platform/procfs/boot_time_text.hpp"

#include "platform/procfs/decimal_text.hpp"

namespace procfs {

std::optional<std::uint64_t> parse_boot_time(std::string_view text) {
    constexpr std::string_view key = "btime ";
    while (!text.empty()) {
        const auto end = text.find('\n');
        auto line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.substr(0, key.size()) == key) {
            line.remove_prefix(key.size());
            return parse_decimal(line);
        }
    }
    return std::nullopt;
}

}  // namespace procfs
