// The sample reading: open the process, then read its times and memory through the handle.
#include "windows/sample_probe.hpp"

#include <variant>

#include "diagnostics/elapsed.hpp"
#include "diagnostics/timing_scope.hpp"

namespace windows {
namespace {

ProbeOutcome<ProcessSample> read(const ProcessHandle& handle, platform::Instant window_start);

}  // namespace

ProbeOutcome<ProcessSample> sample(platform::Pid pid) {
    diagnostics::TimingScope scope{"windows::sample"};
    const platform::Instant window_start = platform::monotonic_now();
    auto opened = open_process(pid);
    if (opened.not_found()) return NotFound{};
    if (opened.is_error()) return opened.error();
    // The handle closes when `opened` goes out of scope, on every path below.
    return read(opened.value(), window_start);
}

namespace {

double ticks_to_ms(std::uint64_t ticks) { return static_cast<double>(ticks) / 10000.0; }

// The reading through an open handle; the caller owns and closes the handle.
ProbeOutcome<ProcessSample> read(const ProcessHandle& handle, platform::Instant window_start) {
    const auto activity = still_active(handle);
    if (const auto* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return NotFound{};

    // The creation time goes unused here, so the backend need not work it out.
    platform::FileTime kernel, user;
    if (!platform::process_cpu_times(handle.get(), kernel, user)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_times};
    }

    // A process that ended while it was read has no figures to give, as with its times.
    platform::MemoryCounters memory;
    if (!platform::process_memory_info(handle.get(), memory)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_memory};
    }

    const std::uint64_t user_ticks = filetime(user);
    const std::uint64_t kernel_ticks = filetime(kernel);
    const std::uint64_t window_ms = diagnostics::millis_since(window_start);

    return ProcessSample{
        .peak_bytes = memory.peak_working_set,
        .peak_source = "system",
        .cpu_user_ms = ticks_to_ms(user_ticks),
        .cpu_system_ms = ticks_to_ms(kernel_ticks),
        .rss_bytes = memory.working_set,
        .window_ms = window_ms,
    };
}

}  // namespace

}  // namespace windows
