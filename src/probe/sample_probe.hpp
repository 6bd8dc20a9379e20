#pragma once
// The resource probe behind the sample command.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.hpp"
#include "probe/process_handle.hpp"

namespace probe {

// One resource reading of a process.
struct ProcessSample {
    std::uint64_t peak_bytes = 0;  // PeakWorkingSetSize
    std::string peak_source;       // always "system": the operating system's own peak counter
    double cpu_user_ms = 0.0;      // lifetime user-mode time
    double cpu_system_ms = 0.0;    // lifetime kernel-mode time
    std::uint64_t rss_bytes = 0;   // WorkingSetSize
    std::uint64_t window_ms = 0;   // whole milliseconds the reading took, opening included
    // 100-ns ticks since 1601, read only when asked for: what tells a process from a later one
    // with the same ID.
    std::optional<std::uint64_t> creation_ticks;
    platform::Instant read_at;     // when the counters had been read: the end of the window
    // The process the ID named when these Processes last read it has been reaped since: this
    // is another one, whatever its creation time says (see platform::Opened).
    bool earlier_process_gone = false;
};

// A single reading has no use for the creation time; a session compares readings by it.
enum class CreationTime { skipped, read };

// One reading of a process's processor times and working set. Found, not_found (no such
// process, or it has ended), or error "OPEN_PROCESS", "PROCESS_STATE", "PROCESS_TIMES",
// "PROCESS_MEMORY". The handle is closed before it returns. Scope "windows::sample".
ProbeOutcome<ProcessSample> sample(platform::Processes& processes, platform::Pid pid,
                                   CreationTime creation = CreationTime::skipped);

}  // namespace probe
