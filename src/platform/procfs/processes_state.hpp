#pragma once
// What a run or a session holds while it reads processes on Linux, and what one opened process
// holds: the Processes::State and the OpenedProcess behind a handle. Only the backend's own
// files read these.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>

#include "platform/platform.hpp"
#include "platform/procfs/descriptor.hpp"
#include "platform/procfs/kept_processes.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/system_clock_facts.hpp"

namespace procfs {

// Where the program lies, as one stat line shows it: its code and where its first stack
// begins, laid anew by every execve and left in place by a rename, which moves only the
// arguments. Field 26 reads 1 to a caller that may not trace the process: the layout is then
// unknown, and never counts as changed.
struct ProgramLayout {
    std::uint64_t start_code = 0;
    std::uint64_t end_code = 0;
    std::uint64_t start_stack = 0;
};

// What note_program saw, for runs_noted_program to compare with.
struct NotedProgram {
    ProgramLayout layout;
    // The process's memory held open as a witness: the kernel answers reads of it only while
    // that memory lives, and a process lets go of it when it executes another program.
    Descriptor memory;
    // The executable file, which tells a child that shares its parent's memory and then
    // executes another program (the witness, its parent's memory, lives on).
    std::optional<FileIdentity> executable;
};

}  // namespace procfs

namespace platform {

struct Processes::State {
    procfs::Reader reader;
    procfs::ClockFacts clock;
    // A session's kept processes; none in a one-shot run, nor while /proc hides processes.
    std::unique_ptr<procfs::KeptProcesses> kept;
    // A session's /proc/self/mountinfo, held open from its start: the kernel flags it to poll()
    // whenever a mount changes (a remount with other options included), so one poll a request
    // tells whether /proc hides processes must be asked again.
    procfs::Descriptor mounts;
    // The most processes a session keeps, under its descriptor limit; 0 in a one-shot run.
    std::size_t most_kept = 0;
    // Whether /proc is a proc filesystem at all, and whether the signal check answers as /proc
    // would: each asked once.
    std::optional<bool> proc_is_procfs;
    std::optional<bool> signal_checks_usable;
    // The descriptors the tool may open, as it was when the Processes was made: a program's
    // memory is held as a witness only by a descriptor in the lower half of it, so that what a
    // session keeps and the reading of the next process keep their room.
    rlim_t descriptor_limit = 0;
};

struct OpenedProcess {
    Pid pid = 0;
    // /proc/<pid>, opened once; every read goes through it, so a recycled PID is never read.
    procfs::Descriptor directory;
    // While the leader has stopped, its memory, executable and command line show only through
    // another thread: the one the latest liveness query found running. 0 otherwise.
    Pid live_thread = 0;
    // Read by the first memory query (or at open, when the leadership had to be read from it);
    // only sample asks for memory, so inspect never pays for this dear file.
    std::optional<procfs::StatusFields> status;
    // The stat read at open, for the first liveness query to answer from instead of reading it
    // again; and the stat the latest liveness query read, for the times query that follows it.
    // So one probe reads stat once, while a later recheck still reads it afresh.
    std::optional<procfs::StatFields> unread_stat;
    std::optional<procfs::StatFields> latest_stat;
    // A kernel thread, as the latest liveness query saw it: it has no memory to show.
    bool kernel_thread = false;
    // The program note_program saw, if it was asked.
    std::optional<procfs::NotedProgram> noted;
};

}  // namespace platform
