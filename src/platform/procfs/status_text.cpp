#include "platform/procfs/status_text.hpp"

#include <limits>

#include "platform/procfs/decimal_text.hpp"

namespace procfs {
namespace {

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// "  1234 kB" in bytes; nullopt when malformed or too large for 64 bits.
std::optional<std::uint64_t> kilobytes_as_bytes(std::string_view value) {
    constexpr std::string_view unit = " kB";
    if (value.size() < unit.size() || value.substr(value.size() - unit.size()) != unit) {
        return std::nullopt;
    }
    const auto kilobytes = parse_decimal(trim_blanks(value.substr(0, value.size() - unit.size())));
    if (!kilobytes || *kilobytes > std::numeric_limits<std::uint64_t>::max() / 1024) {
        return std::nullopt;
    }
    return *kilobytes * 1024;
}

}  // namespace

StatusFields parse_status(std::string_view text) {
    StatusFields fields;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const auto key = line.substr(0, colon);
        const auto value = trim_blanks(line.substr(colon + 1));
        if (key == "Tgid") {
            fields.thread_group = parse_decimal(value);
        } else if (key == "VmRSS") {
            fields.resident_bytes = kilobytes_as_bytes(value).value_or(0);
        } else if (key == "VmHWM") {
            fields.peak_resident_bytes = kilobytes_as_bytes(value).value_or(0);
        }
    }
    return fields;
}

}  // namespace procfs
