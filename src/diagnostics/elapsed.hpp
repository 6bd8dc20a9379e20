#pragma once
// Elapsed time between two clock readings, in the units the diagnostics report.

#include <cstdint>

#include "platform/platform.hpp"

namespace diagnostics {

// Wide enough that no sum of recorded durations can overflow during a run.
__extension__ using Micros = unsigned __int128;

struct Elapsed {
    std::uint64_t seconds = 0;
    std::uint32_t nanos = 0;
};

// `end` - `start`; zero when the clock reads earlier than the start.
Elapsed elapsed_between(platform::Instant start, platform::Instant end);

// Whole microseconds: seconds × 1,000,000 + nanoseconds ÷ 1,000, truncating.
Micros micros_between(platform::Instant start, platform::Instant end);
Micros micros_since(platform::Instant start);

// Whole milliseconds: seconds × 1000 + nanoseconds ÷ 1,000,000, truncating, in 64 bits.
std::uint64_t millis_between(platform::Instant start, platform::Instant end);
std::uint64_t millis_since(platform::Instant start);

}  // namespace diagnostics
