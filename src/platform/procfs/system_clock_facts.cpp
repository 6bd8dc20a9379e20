#include "platform/procfs/system_clock_facts.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "platform/procfs/boot_time_text.hpp"
#include "platform/procfs/proc_file.hpp"
#include "platform/procfs/time_units.hpp"

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

std::optional<std::uint64_t> boot_time_seconds() {
    if (!boot_time_read) {
        boot_time_read = true;
        const auto file = read_file_at(AT_FDCWD, "/proc/stat");
        if (file.error == 0) {
            cached_boot_time = parse_boot_time(file.text);
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
