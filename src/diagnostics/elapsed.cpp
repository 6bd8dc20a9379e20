#include "diagnostics/elapsed.hpp"

namespace diagnostics {

namespace {

constexpr std::uint32_t nanos_per_second = 1'000'000'000;

}  // namespace

Elapsed elapsed_between(platform::Instant start, platform::Instant end) {
    if (end.seconds < start.seconds || (end.seconds == start.seconds && end.nanos < start.nanos)) {
        return {};
    }
    if (end.nanos >= start.nanos) return {end.seconds - start.seconds, end.nanos - start.nanos};
    return {end.seconds - start.seconds - 1, end.nanos + nanos_per_second - start.nanos};
}

Micros micros_between(platform::Instant start, platform::Instant end) {
    const Elapsed elapsed = elapsed_between(start, end);
    return static_cast<Micros>(elapsed.seconds) * 1'000'000u + elapsed.nanos / 1'000u;
}

Micros micros_since(platform::Instant start) {
    return micros_between(start, platform::monotonic_now());
}

std::uint64_t millis_between(platform::Instant start, platform::Instant end) {
    const Elapsed elapsed = elapsed_between(start, end);
    return elapsed.seconds * 1000u + elapsed.nanos / 1'000'000u;
}

std::uint64_t millis_since(platform::Instant start) {
    return millis_between(start, platform::monotonic_now());
}

}  // namespace diagnostics
