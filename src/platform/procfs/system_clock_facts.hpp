#pragma once
// Facts about the system's clocks, each asked once per run.

#include <cstdint>
#include <optional>

namespace procfs {

// sysconf(_SC_CLK_TCK).
std::uint64_t clock_ticks_per_second();

// btime of /proc/stat, read the first time it is needed (only a creation time needs it) and
// kept for the run; from the clocks when /proc/stat cannot be read.
std::optional<std::uint64_t> boot_time_seconds();

// CLOCK_REALTIME minus CLOCK_BOOTTIME in whole seconds, as the kernel works out btime.
std::optional<std::uint64_t> boot_time_from_clocks();

// The 1601-based creation time of a task that started `start_ticks` after boot.
std::optional<std::uint64_t> task_creation_units(std::uint64_t start_ticks);

}  // namespace procfs
