#pragma once
// The scriptable process calls of the fake platform.
//
// Every process the tests care about is scripted by PID; an unscripted PID answers the open the
// way Windows answers for a PID nobody has (no handle, last error 87). The tool's own process
// (own_cpu_times, own_memory) has a script of its own. Handles are counted, closes are checked,
// and every call is logged under the Win32 call the win32 backend makes for it, with its
// arguments, so tests can assert exact call sequences and that no handle is left open.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.hpp"
#include "platform/platform.hpp"

namespace fake {

// GetExitCodeProcess's code for a process that still runs (STILL_ACTIVE).
inline constexpr std::uint32_t still_active = 259;
// The room, in UTF-16 units, the win32 backend gives QueryFullProcessImageNameW.
inline constexpr std::uint32_t image_name_units = 32768;

// Which calls of one kind fail: none, all, or the n-th call and every later one (counted per
// process, 1-based, over all its handles).
struct Failing {
    unsigned from = 0;  // 0: never

    constexpr bool fails_on(unsigned call) const { return from != 0 && call >= from; }
};

inline constexpr Failing never{0};
inline constexpr Failing always{1};
constexpr Failing from_call(unsigned n) { return Failing{n}; }

// One process as the fake platform reports it. The defaults describe a running process that
// every call can read.
struct Process {
    // OpenProcess: fails with `open_error` as last error (5 is access denied, 87 no such PID,
    // 8 not enough memory), which tells the open's failure as the win32 backend tells it.
    Failing open_fails = never;
    std::uint32_t open_error = 5;
    // How far every OpenProcess of this PID moves the fake clock on: a slow open.
    std::uint64_t open_takes_nanos = 0;
    // What the k-th open tells as Opened::earlier_process_gone (the process this ID named at
    // its last reading has been reaped since), the last entry from then on.
    std::vector<bool> earlier_process_gone{false};

    // GetExitCodeProcess: the k-th call answers exit_codes[k - 1], the last entry from then on
    // (so {259, 0} is a process that ends between two probes).
    Failing exit_code_fails = never;
    std::vector<std::uint32_t> exit_codes{still_active};

    // GetProcessTimes: the k-th call reports creation_ticks[k - 1], the last entry from then on.
    Failing times_fail = never;
    std::vector<std::uint64_t> creation_ticks{133'000'000'000'000'000};
    std::uint64_t kernel_ticks = 0;
    std::uint64_t user_ticks = 0;

    // GetProcessMemoryInfo.
    Failing memory_fails = never;
    std::uint64_t working_set = 0;
    std::uint64_t peak_working_set = 0;

    // QueryFullProcessImageNameW: any UTF-16 units, unpaired surrogates included. A name that
    // does not fit image_name_units (with its terminating null) fails as on Windows.
    Failing image_name_fails = never;
    std::u16string image_name = u"C:\\Windows\\System32\\notepad.exe";

    // runs_noted_program: answers false from the n-th call on (the process has executed another
    // program by then), but only through a handle whose program was noted: with nothing noted
    // it answers true, as the header says.
    Failing image_replaced = never;

    // command_line (the per-process reading of Linux): `command_line` as text, or from the
    // n-th call on `command_line_failure` (gone or shortage) with no text.
    Failing command_line_fails = never;
    platform::CommandLine::Read command_line_failure = platform::CommandLine::Read::gone;
    std::string command_line;
};

// The last error every failing call other than OpenProcess leaves behind.
inline constexpr std::uint32_t failed_call_error = 31;  // ERROR_GEN_FAILURE

// Forgets every script, handle, log entry and violation; the tool's own process returns to
// the defaults of Process.
void reset_processes();

// The script of `pid`, created with the defaults of Process on first use.
Process& process(platform::Pid pid);

// The script of the tool's own process, answered through own_cpu_times and own_memory.
Process& self_process();

// forget_idle_processes (which makes no Win32 call and logs nothing) answers that something is
// still kept to its next `calls` calls, then that nothing is: a session's idle looks.
void keep_between_requests(unsigned calls);
// How many times forget_idle_processes was called.
std::size_t forget_idle_calls();

// Handles opened and not yet closed.
std::size_t open_handles();

// Misuse seen so far: closing a handle twice or a bogus one, calling through a closed or bogus
// handle, or through another Processes than the one the handle was opened through. Tests
// assert it stays empty.
const std::vector<std::string>& violations();

// Every call made, in order, e.g. "OpenProcess(4096,0,42)", "GetLastError()" (after a failed
// open), "GetExitCodeProcess(42)", "CloseHandle(42)"; a handle is written as the PID it was
// opened for, the own process as "self" and an unknown handle as "bogus". note_program makes no
// Win32 call and logs nothing; runs_noted_program logs "RunsNotedProgram(42)" and command_line
// "CommandLine(42)".
const std::vector<std::string>& call_log();
void clear_call_log();

// How many logged calls have this name ("GetProcessTimes", "CloseHandle", ...).
std::size_t calls_named(std::string_view name);

// How many GetProcessTimes calls were asked for the creation time too (process_times rather
// than process_cpu_times, which the log does not tell apart): what the Linux backend pays extra
// for.
std::size_t creation_times_asked();

}  // namespace fake
