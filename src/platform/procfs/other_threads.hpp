#pragma once
// The other threads of a process whose main thread has stopped. Its own directory then shows
// no memory, no executable and no command line (the leader has let go of the address space),
// while any live thread still shows them; and only the threads tell whether the process has
// ended.

#include <string>
#include <string_view>

#include "platform/platform.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"

namespace procfs {

// What the threads of a process say of it.
struct LiveThread {
    // Every thread is exiting or gone: the process has ended.
    bool ended = false;
    // A thread that runs: the leader itself while it runs, else another one. 0 when the
    // process has ended, when the tool ran short, or when the process runs but no thread can
    // be named (its task directory may not be read).
    platform::Pid tid = 0;
    // That thread's stat; it shows the process's memory as the leader's no longer does.
    StatFields stat{};
    // The errno when the tool ran short of descriptors or memory before it could tell.
    int shortage = 0;
};

// Whether the process whose leader's stat reads `leader_stat` runs, and through which thread.
// `task_path` names its task directory relative to `directory` ("task", or "/proc/<pid>/task"
// with AT_FDCWD). Only a leader that has stopped leads to its threads: `hint`, a thread found
// running before, is asked first; the others are listed (the directory closed again) and read
// one after the other up to the first that runs, so the search holds one descriptor at a time.
LiveThread find_live_thread(Reader& reader, int directory, std::string_view task_path,
                            platform::Pid leader, const StatFields& leader_stat,
                            platform::Pid hint);

// "<task_path>/<tid>/<file>": a file of one thread.
std::string thread_file(std::string_view task_path, platform::Pid tid, std::string_view file);

}  // namespace procfs
