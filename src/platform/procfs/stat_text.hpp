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
    std::uint64_t flags = 0;           // field 9: the task's PF_* flags
};

// Flags of field 9, as the kernel defines them.
inline constexpr std::uint64_t task_exiting = 0x4;          // PF_EXITING: in do_exit
inline constexpr std::uint64_t kernel_thread = 0x00200000;  // PF_KTHREAD

// Fields are counted after the last ')' because the command name may itself hold spaces and
// parentheses. nullopt when the text is cut short or a needed field is not a number.
std::optional<StatFields> parse_stat(std::string_view text);

// A task that is exiting, a zombie or dead, whose thread group has no other thread left: the
// process has ended. A leader like that whose other threads still run may be a live process:
// then the other threads tell (see process_has_ended).
bool has_exited(const StatFields& fields);

// The task itself no longer runs: it is exiting, a zombie or dead.
bool task_stopped(const StatFields& fields);

// Field `number` of the line, counted as proc(5) counts them (the first after the command name
// is 3), as a number; nullopt when the line is shorter or the field is not a number.
std::optional<std::uint64_t> parse_stat_field(std::string_view text, int number);

}  // namespace procfs
