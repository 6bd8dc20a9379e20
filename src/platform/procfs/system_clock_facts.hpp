#pragma once
// Facts about the system's clocks, each asked once by whoever reads processes.

#include <cstdint>
#include <optional>

#include "platform/procfs/proc_files.hpp"

namespace procfs {

// CLOCK_REALTIME minus CLOCK_BOOTTIME in whole seconds, as the kernel works out btime.
std::optional<std::uint64_t> boot_time_from_clocks();

class ClockFacts {
public:
    // sysconf(_SC_CLK_TCK).
    std::uint64_t ticks_per_second();

    // btime of /proc/stat, read the first time it is needed (only a creation time needs it)
    // and kept; from the clocks when /proc/stat cannot be read.
    std::optional<std::uint64_t> boot_time_seconds(Reader& reader);

    // The 1601-based creation time of a task that started `start_ticks` after boot.
    std::optional<std::uint64_t> task_creation_units(Reader& reader, std::uint64_t start_ticks);

private:
    std::uint64_t tick_rate_ = 0;
    bool boot_time_read_ = false;
    std::optional<std::uint64_t> boot_time_;
};

}  // namespace procfs
