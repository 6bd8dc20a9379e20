#pragma once
// Parser of /proc/stat: the boot time.

#include <cstdint>
#include <optional>
#include <string_view>

namespace procfs {

// The "btime" line: seconds since the Unix epoch at which the system booted.
std::optional<std::uint64_t> parse_boot_time(std::string_view text);

}  // namespace procfs
