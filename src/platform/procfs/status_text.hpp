#pragma once
// Parser of /proc/<pid>/status: the thread-group ID and the two resident-set counters.

#include <cstdint>
#include <optional>
#include <string_view>

namespace procfs {

struct StatusFields {
    std::optional<std::uint64_t> thread_group;  // Tgid
    std::uint64_t resident_bytes = 0;           // VmRSS; 0 when absent (kernel thread, zombie)
    std::uint64_t peak_resident_bytes = 0;      // VmHWM; likewise
};

// Lines other than the three are ignored; a malformed value reads as absent.
StatusFields parse_status(std::string_view text);

}  // namespace procfs
