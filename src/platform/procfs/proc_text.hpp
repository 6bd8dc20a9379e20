#pragma once
// The texts /proc writes, read without touching /proc, so the unit tests and the fuzz targets
// reach them: a process's stat line and status file, the boot time in /proc/stat, the clock
// ticks they count in as 100-ns units, and a cmdline as one command-line text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace procfs {

// ---- /proc/<pid>/stat: the fields the probes need

// Where the program the process runs was laid out in its memory. Every execve lays out a new
// image (the stack, and with it the arguments and the environment, at a random place), and
// only an execve or a deliberate prctl(PR_SET_MM) moves these, so two readings that differ
// mean that the process has run another program in between. All 0 (the code 1) when the
// process has no memory (a kernel thread, a leader that has stopped) or we may not read it.
struct ImageLayout {
    std::uint64_t start_code = 0;   // field 26
    std::uint64_t end_code = 0;     // field 27
    std::uint64_t start_stack = 0;  // field 28
    std::uint64_t start_data = 0;   // field 45
    std::uint64_t end_data = 0;     // field 46
    std::uint64_t start_brk = 0;    // field 47
    std::uint64_t arg_start = 0;    // field 48
    std::uint64_t arg_end = 0;      // field 49
    std::uint64_t env_start = 0;    // field 50
    // Field 51, also 0 while an execve is laying out the new arguments and environment.
    std::uint64_t env_end = 0;

    bool operator==(const ImageLayout&) const = default;
};

struct StatFields {
    char state = '?';                  // field 3: R, S, D, Z, X, ...
    std::uint64_t user_ticks = 0;      // field 14 utime, clock ticks
    std::uint64_t system_ticks = 0;    // field 15 stime, clock ticks
    std::uint64_t thread_count = 0;    // field 20 num_threads
    std::uint64_t start_ticks = 0;     // field 22 starttime, clock ticks after boot
    std::uint64_t flags = 0;           // field 9: the task's PF_* flags
    // Fields of an older kernel's shorter line, or that are not numbers, read as 0.
    ImageLayout layout{};
};

// Flags of field 9, as the kernel defines them.
inline constexpr std::uint64_t task_exiting = 0x4;          // PF_EXITING: in do_exit
inline constexpr std::uint64_t kernel_thread = 0x00200000;  // PF_KTHREAD

// Fields are counted after the last ')' because the command name may itself hold spaces and
// parentheses. nullopt when the text is cut short or a needed field is not a number.
std::optional<StatFields> parse_stat(std::string_view text);

// The task itself no longer runs: it is exiting, a zombie or dead.
bool task_stopped(const StatFields& fields);

// A task that is exiting, a zombie or dead, whose thread group has no other thread left: the
// process has ended. A leader like that whose other threads still run may be a live process:
// then the other threads tell (see process_has_ended).
bool has_exited(const StatFields& fields);

// ---- /proc/<pid>/status: the thread-group ID and the two resident-set counters

struct StatusFields {
    std::optional<std::uint64_t> thread_group;  // Tgid
    std::uint64_t resident_bytes = 0;           // VmRSS; 0 when absent (kernel thread, zombie)
    std::uint64_t peak_resident_bytes = 0;      // VmHWM; likewise
};

// Lines other than the three are ignored; a malformed value reads as absent.
StatusFields parse_status(std::string_view text);

// ---- /proc/stat: the boot time

// The "btime" line: seconds since the Unix epoch at which the system booted.
std::optional<std::uint64_t> parse_boot_time(std::string_view text);

// ---- Clock ticks as 100-ns units

// 100-ns units between 1601-01-01 and 1970-01-01, both UTC.
inline constexpr std::uint64_t unix_epoch_units = 116444736000000000ULL;
inline constexpr std::uint64_t units_per_second = 10000000ULL;

// Exact for any tick rate; a rate of 0 gives 0.
std::uint64_t ticks_to_units(std::uint64_t ticks, std::uint64_t ticks_per_second);

// 1601-based point in time of a task that started `start_ticks` after a boot at
// `boot_seconds` (Unix time).
std::uint64_t creation_units(std::uint64_t boot_seconds, std::uint64_t start_ticks,
                             std::uint64_t ticks_per_second);

platform::FileTime to_file_time(std::uint64_t units);

// ---- /proc/<pid>/cmdline as one text: the argument vector written the way a POSIX shell
// would split it back into the same arguments

// Appends `argument` to `out`: as it stands when it is non-empty and made only of ASCII
// letters, digits and _@%+=:,./- ; otherwise single-quoted, each ' written as '\''.
void append_shell_quoted(std::string& out, std::string_view argument);

// The text of a raw /proc/<pid>/cmdline: nullopt when it is empty (kernel thread, zombie);
// the data as it stands when it does not end in a zero byte (a process that rewrote its
// title); a title padded with zero bytes when it ends in two or more of them: the padding
// dropped, each zero byte inside shown as a space, nullopt when nothing else is left;
// otherwise (one final zero byte) the zero-terminated arguments quoted and joined by single
// spaces. Bytes that are not UTF-8 become U+FFFD.
std::optional<std::string> command_line_from_cmdline(std::string_view raw);

}  // namespace procfs
