#pragma once
// One resource reading of a process.

#include <cstdint>
#include <string>

namespace windows {

struct ProcessSample {
    std::uint64_t peak_bytes = 0;  // PeakWorkingSetSize
    std::string peak_source;       // always "system": the operating system's own peak counter
    double cpu_user_ms = 0.0;      // lifetime user-mode time
    double cpu_system_ms = 0.0;    // lifetime kernel-mode time
    std::uint64_t rss_bytes = 0;   // WorkingSetSize
    std::uint64_t window_ms = 0;   // whole milliseconds the reading took, opening included
};

}  // namespace windows
