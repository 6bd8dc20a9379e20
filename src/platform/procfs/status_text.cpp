#include "platform/procfs/status_text.hpp"

#include <cstring>
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
    // The three lines sit in the first third of the file, Tgid before VmHWM before VmRSS: the
    // scan stops once it has all three, and looks closer only at lines starting with T or V.
    StatusFields fields;
    bool thread_group_seen = false;
    bool resident_seen = false;
    bool peak_seen = false;
    while (!text.empty() && !(thread_group_seen && resident_seen && peak_seen)) {
        const void* feed = std::memchr(text.data(), '\n', text.size());
        const std::size_t end = feed == nullptr ? text.size()
                                                : static_cast<std::size_t>(
                                                      static_cast<const char*>(feed) - text.data());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(feed == nullptr ? text.size() : end + 1);
        if (line.empty() || (line.front() != 'T' && line.front() != 'V')) {
            continue;
        }

        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const auto key = line.substr(0, colon);
        if (key == "Tgid") {
            fields.thread_group = parse_decimal(trim_blanks(line.substr(colon + 1)));
            thread_group_seen = true;
        } else if (key == "VmRSS") {
            fields.resident_bytes =
                kilobytes_as_bytes(trim_blanks(line.substr(colon + 1))).value_or(0);
            resident_seen = true;
        } else if (key == "VmHWM") {
            fields.peak_resident_bytes =
                kilobytes_as_bytes(trim_blanks(line.substr(colon + 1))).value_or(0);
            peak_seen = true;
        }
    }
    return fields;
}

}  // namespace procfs
