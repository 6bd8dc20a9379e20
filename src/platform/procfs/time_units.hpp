#pragma once
// Clock ticks of /proc as 100-ns units, and the 1601-based creation time.

#include <cstdint>
#include <optional>

#include "platform/platform.hpp"

namespace procfs {

// 100-ns units between 1601-01-01 and 1970-01-01, both UTC.
inline constexpr std::uint64_t unix_epoch_units = 116444736000000000ULL;
inline constexpr std::uint64_t units_per_second = 10000000ULL;

// Exact for any tick rate, without overflow for any count the kernel can hold.
std::uint64_t ticks_to_units(std::uint64_t ticks, std::uint64_t ticks_per_second);

// sysconf(_SC_CLK_TCK), asked once.
std::uint64_t clock_ticks_per_second();

// btime of /proc/stat, read the first time it is needed and kept for the run.
std::optional<std::uint64_t> boot_time_seconds();

// 1601-based creation time of a task that started `start_ticks` after boot.
std::optional<std::uint64_t> creation_units(std::uint64_t start_ticks);

platform::FileTime to_file_time(std::uint64_t units);

}  // namespace procfs
