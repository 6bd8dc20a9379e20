#pragma once
// Parser of /proc/<pid>/stat: the fields the probes need.

#include <cstdint>
#include <optional>
#include <string_view>

namespace procfs {

struct StatFields {
    char state = '?';                  // field 3: R, S, D, Z, X, ...
    std::uint64_t user_ticks = 0;      // field 14 utime, clock ticks
    std::uint64_t system_ticks = 0;    // field 15 stime, clock ticks
    std::uint64_t thread_count = 0;    // field 20 num_threads
    std::uint64_t start_ticks = 0;     // field 22 starttime, clock ticks after boot
};

// Fields are counted after the last ')' because the command name may itself hold spaces and
// parentheses. nullopt when the text is cut short or a needed field is not a number.
std::optional<StatFields> parse_stat(std::string_view text);

// A zombie or dead task whose thread group has no other thread left: the process has ended.
// A zombie leader whose other threads still run is a live process.
bool has_exited(const StatFields& fields);

}  // namespace procfs
