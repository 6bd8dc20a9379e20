// The tick rate and the boot time, each asked once and kept for the run: the boot time from
// /proc/stat, or from the clocks when /proc has no such file; then a task's creation time.

#include "platform/procfs/system_clock_facts.hpp"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"

namespace procfs {
namespace {

// Filled on first use and kept for the run.
std::uint64_t cached_tick_rate = 0;
bool boot_time_read = false;
std::optional<std::uint64_t> cached_boot_time;

}  // namespace

std::uint64_t clock_ticks_per_second() {
    if (cached_tick_rate == 0) {
        const long rate = ::sysconf(_SC_CLK_TCK);
        cached_tick_rate = rate > 0 ? static_cast<std::uint64_t>(rate) : 100;
    }
    return cached_tick_rate;
}

std::optional<std::uint64_t> boot_time_from_clocks() {
    constexpr std::int64_t nanos_per_second = 1'000'000'000;
    const auto nanos = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * nanos_per_second + time.tv_nsec;
    };
    // The offset lies between the two readings around the wall clock; a second boundary
    // between them (a few dozen nanoseconds wide) is met again only by a clock step.
    for (int attempt = 0; attempt < 3; ++attempt) {
        timespec before{}, wall{}, after{};
        if (::clock_gettime(CLOCK_BOOTTIME, &before) != 0 ||
            ::clock_gettime(CLOCK_REALTIME, &wall) != 0 ||
            ::clock_gettime(CLOCK_BOOTTIME, &after) != 0) {
            return std::nullopt;
        }
        const std::int64_t earliest = nanos(wall) - nanos(after);
        const std::int64_t latest = nanos(wall) - nanos(before);
        if (earliest < 0) {
            return std::nullopt;  // a wall clock set before 1970
        }
        if (earliest / nanos_per_second == latest / nanos_per_second) {
            return static_cast<std::uint64_t>(earliest / nanos_per_second);
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> boot_time_seconds() {
    if (!boot_time_read) {
        boot_time_read = true;
        const auto file = read_file_at(AT_FDCWD, "/proc/stat");
        if (file.error == 0) {
            cached_boot_time = parse_boot_time(file.text);
        }
        // A /proc that shows only processes (mount option subset=pid) has no /proc/stat.
        if (!cached_boot_time) {
            cached_boot_time = boot_time_from_clocks();
        }
    }
    return cached_boot_time;
}

std::optional<std::uint64_t> task_creation_units(std::uint64_t start_ticks) {
    const auto boot = boot_time_seconds();
    if (!boot) {
        return std::nullopt;
    }
    return creation_units(*boot, start_ticks, clock_ticks_per_second());
}

}  // namespace procfs
