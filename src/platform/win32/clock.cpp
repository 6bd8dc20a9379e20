// The monotonic clock: the performance counter, split into seconds and nanoseconds.

#include "platform/platform.hpp"
#include "platform/win32/windows_api.hpp"

namespace platform {
namespace {

std::uint64_t counter_frequency() {
    // Fixed at boot, so it is read once per run.
    static const std::uint64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<std::uint64_t>(value.QuadPart);
    }();
    return frequency;
}

}  // namespace

Instant monotonic_now() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const std::uint64_t frequency = counter_frequency();
    if (frequency == 0) {
        return {};
    }
    const std::uint64_t remainder = ticks % frequency;
    // remainder < frequency, so the product needs more than 64 bits only for huge frequencies.
    const auto nanos = static_cast<std::uint32_t>(
        static_cast<unsigned __int128>(remainder) * 1'000'000'000u / frequency);
    return Instant{ticks / frequency, nanos};
}

}  // namespace platform
