#pragma once
// The one seam between the tool and the operating system, in facts: open a process, whether it
// runs, its times, its memory, its executable, whether it still runs the program it ran when
// first looked at; the tool's own times and memory; the clock, the environment, the arguments
// and the standard streams.
//
// Exactly one backend defines them all: win32 (the real calls), procfs (Linux, read from /proc)
// or the scriptable fake of the tests. CMake picks the backend; no code above this header
// includes an operating-system header. The command lines of processes are not here: Windows
// gives them through WMI (platform/com_calls.hpp), Linux one process at a time
// (platform/command_line.hpp).
//
// Calls never throw. A failure is a value: a failed open says why, any other call says only
// that it failed, and the probe logic above decides what that means for the process.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------------------------

using Pid = std::uint32_t;

// What a run or a session holds while it reads processes: read buffers, what it keeps of
// processes between requests, facts of the system it looked up once. Its owner creates it and
// passes it to every process call; two never disturb each other. Each backend defines State.
class Processes {
public:
    // A session keeps what it opened for a process after the process's handle closes, so that
    // reading it again in a later request costs less. What it keeps never changes an answer: a
    // process that has ended is not found, and an ID given to another process opens that one.
    // A one-shot run keeps nothing.
    enum class Keeping { nothing, between_requests };

    explicit Processes(Keeping keeping = Keeping::nothing);
    ~Processes();
    Processes(const Processes&) = delete;
    Processes& operator=(const Processes&) = delete;

    struct State;
    State& state() { return *state_; }

private:
    std::unique_ptr<State> state_;
};

// An opened process, as the backend gives it out; null means "none".
struct OpenedProcess;
using Handle = OpenedProcess*;

// A point in time (100-ns ticks since 1601-01-01 UTC) or a duration in the same ticks, split
// into two halves as Windows keeps it.
struct FileTime {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

// The current and peak working set (resident memory), in bytes.
struct MemoryCounters {
    std::uint64_t working_set = 0;
    std::uint64_t peak_working_set = 0;
};

// Why a process could not be opened.
enum class OpenFailure {
    none,
    no_such_process,     // no process has the ID (a thread's ID included)
    denied,              // it exists, and may not be looked at
    out_of_descriptors,  // the tool ran short of handles, descriptors or memory
    other,
};

struct Opened {
    Handle handle = nullptr;  // null when the open failed
    OpenFailure failure = OpenFailure::none;
    // The process this ID named when these Processes last read it has been reaped since, so
    // what is opened now (or found missing) is another process, even one created within the
    // same clock tick. Told only where the backend still kept something of that process (a
    // Linux session, for a process read in the last few seconds); false when it cannot tell.
    bool earlier_process_gone = false;
};

// Opens the process for reading its facts. Close every handle with close_process.
Opened open_process(Processes& processes, Pid pid);

// Whether the opened process still runs. nullopt when that cannot be told.
enum class Liveness { running, exited };
std::optional<Liveness> liveness(Processes& processes, Handle handle);

// Its creation time (a point in time) and its kernel and user processor time (durations).
bool process_times(Processes& processes, Handle handle, FileTime& creation, FileTime& kernel,
                   FileTime& user);

// The two durations alone: a backend whose creation time costs extra work skips it.
bool process_cpu_times(Processes& processes, Handle handle, FileTime& kernel, FileTime& user);

// Its current and peak working set.
bool process_memory(Processes& processes, Handle handle, MemoryCounters& counters);

// Notes the program the process runs now, for runs_noted_program to compare with later. Taken
// just before its executable path is read, so that the path is the noted program's.
void note_program(Processes& processes, Handle handle);

// Whether the process still runs the program note_program saw, as far as the tool may see:
// false when it has executed another program since (a Windows process never does). True when
// nothing was noted.
bool runs_noted_program(Processes& processes, Handle handle);

// The full path of its executable, as UTF-8 (what is not valid Unicode becomes U+FFFD).
// nullopt when it cannot be read.
std::optional<std::string> executable_path(Processes& processes, Handle handle);

// Closes the handle; what the backend keeps of the process for a session stays kept.
void close_process(Processes& processes, Handle handle);

// A session's request begins: from here on, what the session kept is read again only as far as
// opening each process afresh would allow now (a /proc mounted anew to hide other users'
// processes lets go of all of it). A backend that keeps nothing does nothing.
void begin_request(Processes& processes);

// A session between requests: lets go of what was kept for processes not read for a while, so
// that an idle session holds nothing of processes that ended. Looks at most once a second.
// Whether anything is still kept: while it is, a session that waits for its next request
// calls this again every second or so. A backend that keeps nothing does nothing.
bool forget_idle_processes(Processes& processes);

// The tool's own processor times and working set.
bool own_cpu_times(FileTime& kernel, FileTime& user);
bool own_memory(MemoryCounters& counters);

// ---------------------------------------------------------------------------------------------
// Monotonic clock
// ---------------------------------------------------------------------------------------------

struct Instant {
    std::uint64_t seconds = 0;
    std::uint32_t nanos = 0;  // 0 to 999,999,999
};

Instant monotonic_now();

// ---------------------------------------------------------------------------------------------
// Process start-up services
// ---------------------------------------------------------------------------------------------

// The value of an environment variable as UTF-8; nullopt when unset or not valid Unicode.
std::optional<std::string> environment_variable(const char* name);

// The arguments after the program name, as UTF-8. What is not valid Unicode (a lone surrogate
// on Windows, bytes that are not UTF-8 on Linux) becomes U+FFFD: such an argument is never a
// command word nor a process ID, so the command line's own rules refuse it, in order.
std::vector<std::string> arguments();

enum class Stream { out, err };

// Writes every byte, unbuffered. Returns the system's error text when the write fails.
std::optional<std::string> write(Stream stream, std::string_view bytes);

// Reads what standard input holds, at most `room` bytes into `buffer`, waiting until there is
// something: a pipe's or a console's bytes as they come, a file's in order. `got` is 0 at the
// end of the input, and when there is no standard input at all. Returns the system's error
// text when the read fails.
std::optional<std::string> read_input(char* buffer, std::size_t room, std::size_t& got);

// Waits at most `milliseconds` for standard input to have something for read_input: false
// when that time passed without, true when it has bytes, its end or an error (the read then
// tells which), or when the backend does not wait (Windows, which keeps nothing of processes
// between requests: its session has nothing to do while it waits).
bool wait_for_input(std::uint32_t milliseconds);

}  // namespace platform
