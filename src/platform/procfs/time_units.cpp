#include "platform/procfs/time_units.hpp"

namespace procfs {

std::uint64_t ticks_to_units(std::uint64_t ticks, std::uint64_t ticks_per_second) {
    if (ticks_per_second == 0) {
        return 0;
    }
    const auto whole = ticks / ticks_per_second;
    const auto rest = ticks % ticks_per_second;
    return whole * units_per_second + rest * units_per_second / ticks_per_second;
}

std::uint64_t creation_units(std::uint64_t boot_seconds, std::uint64_t start_ticks,
                             std::uint64_t ticks_per_second) {
    return unix_epoch_units + boot_seconds * units_per_second +
           ticks_to_units(start_ticks, ticks_per_second);
}

platform::FileTime to_file_time(std::uint64_t units) {
    return {static_cast<std::uint32_t>(units), static_cast<std::uint32_t>(units >> 32)};
}

}  // namespace procfs
