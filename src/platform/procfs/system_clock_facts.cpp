// The tick rate and the boot time, each asked once and kept by whoever reads processes: the
// boot time from /proc/stat, or from the clocks when /proc has no such file; then a task's
// creation time.

#include "platform/procfs/system_clock_facts.hpp"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"

namespace procfs {

std::uint64_t ClockFacts::ticks_per_second() {
    if (tick_rate_ == 0) {
        const long rate = ::sysconf(_SC_CLK_TCK);
        tick_rate_ = rate > 0 ? static_cast<std::uint64_t>(rate) : 100;
    }
    return tick_rate_;
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

std::optional<std::uint64_t> ClockFacts::boot_time_seconds(Reader& reader) {
    if (!boot_time_read_) {
        boot_time_read_ = true;
        const auto file = reader.read_file_at(AT_FDCWD, "/proc/stat");
        if (file.error == 0) {
            boot_time_ = parse_boot_time(file.text);
        }
        // A /proc that shows only processes (mount option subset=pid) has no /proc/stat.
        if (!boot_time_) {
            boot_time_ = boot_time_from_clocks();
        }
    }
    return boot_time_;
}

std::optional<std::uint64_t> ClockFacts::task_creation_units(Reader& reader,
                                                             std::uint64_t start_ticks) {
    const auto boot = boot_time_seconds(reader);
    if (!boot) {
        return std::nullopt;
    }
    return creation_units(*boot, start_ticks, ticks_per_second());
}

}  // namespace procfs
