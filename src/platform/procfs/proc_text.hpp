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

// Where the program the process runs lies in its memory, and where its arguments lie. The
// kernel shows a task without memory (a kernel thread, a leader that has stopped) 0 in each,
// and a caller that may not trace the task 1 for the code fields and 0 for the rest.
struct ImageLayout {
    std::uint64_t start_code = 0;   // field 26
    std::uint64_t end_code = 0;     // field 27
    std::uint64_t start_stack = 0;  // field 28
    std::uint64_t arg_start = 0;    // field 48
    std::uint64_t arg_end = 0;      // field 49
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

// How far a stat line is read: up to the counts (field 22), or on to the end of the layout
// (field 51), which only the looks at a program need and which take most of the line.
enum class StatExtent { counts, layout };

// Fields are counted after the last ')' because the command name may itself hold spaces and
// parentheses. nullopt when the text is cut short or a needed field is not a number. Read up
// to the counts only, the layout is left 0.
std::optional<StatFields> parse_stat(std::string_view text,
                                     StatExtent extent = StatExtent::layout);

// The task itself no longer runs: it is exiting, a zombie or dead.
bool task_stopped(const StatFields& fields);

// A task that is exiting, a zombie or dead, whose thread group has no other thread left: the
// process has ended. A leader like that whose other threads still run may be a live process:
// then the other threads tell (see process_has_ended).
bool has_exited(const StatFields& fields);

// ---- /proc/<pid>/status: the thread-group ID and the two resident-set counters

struct StatusFields {
    std::optional<std::uint64_t> thread_group;  // Tgid
    // A VmRSS line was there: the task has memory. A kernel thread, a zombie and a leader that
    // has stopped have none, and show neither counter.
    bool has_memory = false;
    std::uint64_t resident_bytes = 0;           // VmRSS; 0 when absent
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

// The text of a raw /proc/<pid>/cmdline. `argument_area` is arg_end - arg_start of the same
// task's stat, nullopt when stat hides it (or was not read). The kernel gives the bytes of that
// area exactly, unless the process wrote a title past its end: then it gives the title up to
// its first zero byte, that byte included. So:
// - empty (a kernel thread, a zombie): nullopt;
// - a length other than the area's: such a title, shown up to its first zero byte;
// - no final zero byte: a title cut short, shown as it stands;
// - a final run of two or more zero bytes with no zero byte before it: a title padded with
//   zero bytes, shown without the padding (nullopt when nothing else is left);
// - otherwise an argument vector: its zero-terminated arguments, empty ones included, quoted
//   and joined by single spaces.
// Bytes that are not UTF-8 become U+FFFD.
std::optional<std::string> command_line_from_cmdline(
    std::string_view raw, std::optional<std::uint64_t> argument_area = std::nullopt);

// Whether the text of `raw` hangs on its argument area. A title the kernel cut at its first
// zero byte holds no other: only a cmdline of one zero byte, its last, can be one, and only
// when its one argument would be quoted does it read otherwise as an argument vector. Any
// other cmdline is read by its bytes alone, so its stat need not be read.
bool argument_area_decides(std::string_view raw);

}  // namespace procfs
