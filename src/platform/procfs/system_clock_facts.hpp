#pragma once
// Facts about the system's clocks, each asked once per run.

#include <cstdint>
#include <optional>

namespace procfs {

// sysconf(_SC_CLK_TCK).
std::uint64_t clock_ticks_per_second();

// btime of /proc/stat, read the first time it is needed and kept for the run.
std::optional<std::uint64_t> boot_time_seconds();

// The 1601-based creation time of a task that started `start_ticks` after boot.
std::optional<std::uint64_t> task_creation_units(std::uint64_t start_ticks);

}  // namespace procfs
