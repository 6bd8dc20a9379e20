#pragma once
// Clock ticks of /proc as 100-ns units.

#include <cstdint>

#include "platform/platform.hpp"

namespace procfs {

// 100-ns units between 1601-01-01 and 1970-01-01, both UTC.
inline constexpr std::uint64_t unix_epoch_units = 116444736000000000ULL;
inline constexpr std::uint64_t units_per_second = 10000000ULL;

// Exact for any tick rate; a rate of 0 gives 0.
std::uint64_t ticks_to_units(std::uint64_t ticks, std::uint64_t ticks_per_second);

// 1601-based point in time of a task that started `start_ticks` after a boot at
// `boot_seconds` (Unix time).
std::uint64_t creation_units(std::uint64_t boot_seconds, std::uint64_t start_ticks,
                             std::uint64_t ticks_per_second);

platform::FileTime to_file_time(std::uint64_t units);

}  // namespace procfs
