// The sample reading: open the process, then read its times and memory through the handle.
#include "probe/sample_probe.hpp"

#include <variant>

#include "diagnostics/elapsed.hpp"
#include "diagnostics/timing_scope.hpp"

namespace probe {
namespace {

ProbeOutcome<ProcessSample> read(const ProcessHandle& handle, platform::Instant window_start,
                                 CreationTime creation);

}  // namespace

ProbeOutcome<ProcessSample> sample(platform::Processes& processes, platform::Pid pid,
                                   CreationTime creation) {
    diagnostics::TimingScope scope{"windows::sample"};
    const platform::Instant window_start = platform::monotonic_now();
    auto opened = probe::open_process(processes, pid);
    if (opened.not_found()) return NotFound{};
    if (opened.is_error()) return opened.error();
    // The handle closes when `opened` goes out of scope, on every path below.
    return read(opened.value(), window_start, creation);
}

namespace {

double ticks_to_ms(std::uint64_t ticks) { return static_cast<double>(ticks) / 10000.0; }

// The reading through an open handle; the caller owns and closes the handle.
ProbeOutcome<ProcessSample> read(const ProcessHandle& handle, platform::Instant window_start,
                                 CreationTime creation) {
    const auto activity = still_active(handle);
    if (const auto* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return NotFound{};

    // Unless the creation time is asked for, the backend need not work it out.
    platform::FileTime created, kernel, user;
    const bool times_read =
        creation == CreationTime::read
            ? platform::process_times(handle.processes(), handle.get(), created, kernel, user)
            : platform::process_cpu_times(handle.processes(), handle.get(), kernel, user);
    if (!times_read) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_times};
    }

    // A process that ended while it was read has no figures to give, as with its times.
    platform::MemoryCounters memory;
    if (!platform::process_memory(handle.processes(), handle.get(), memory)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_memory};
    }

    const std::uint64_t user_ticks = filetime(user);
    const std::uint64_t kernel_ticks = filetime(kernel);
    std::optional<std::uint64_t> creation_ticks;
    if (creation == CreationTime::read) creation_ticks = filetime(created);
    const platform::Instant read_at = platform::monotonic_now();
    const std::uint64_t window_ms = diagnostics::millis_between(window_start, read_at);

    return ProcessSample{
        .peak_bytes = memory.peak_working_set,
        .peak_source = "system",
        .cpu_user_ms = ticks_to_ms(user_ticks),
        .cpu_system_ms = ticks_to_ms(kernel_ticks),
        .rss_bytes = memory.working_set,
        .window_ms = window_ms,
        .creation_ticks = creation_ticks,
        .read_at = read_at,
        .earlier_process_gone = handle.earlier_process_gone(),
    };
}

}  // namespace

}  // namespace probe
