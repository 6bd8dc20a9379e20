#pragma once
// The /proc/<pid> directories that open process handles hold, by PID, so that the query can
// read through a directory the run already holds instead of finding the process again, and
// through the thread the handle found running when the process's first thread has stopped;
// and which executable the handle first saw there, so that the query can tell when the command
// line it reads belongs to another program than the path read before it.

#include <optional>

#include "platform/platform.hpp"
#include "platform/procfs/proc_files.hpp"

namespace procfs {

// Owned by the handle; the query may update the thread it reads through, and say that the
// process runs another program.
struct HeldDirectory {
    int directory = -1;
    // While the process's first thread has stopped (its memory, executable and command line
    // then show only through another thread), a thread of it seen running; 0 otherwise.
    platform::Pid live_thread = 0;
    // The executable as the handle's first look at the program saw it (just before the path
    // was read); nullopt before that look, or when the caller could not follow the link.
    std::optional<FileIdentity> first_executable;
    // A later look saw another program than the first: the path and the command line may
    // belong to two programs.
    bool program_changed = false;
};

// Looks at the executable behind `link` (the "exe" of the process or of one of its threads,
// under the held directory): another than the first look's makes the program changed. Called
// on both sides of each read whose text must belong to the first look's program (the path,
// the command line), so that an execve that lands between a read and one look is seen by the
// other. An executable the caller may not see is unknown, and changes nothing.
void look_at_executable(HeldDirectory& held, const char* link);

void hold_directory(platform::Pid pid, HeldDirectory* directory);
// Forgets the directory only if it is still the one held for the PID.
void release_directory(platform::Pid pid, const HeldDirectory* directory);
// The directory held for the PID, or null.
HeldDirectory* held_directory(platform::Pid pid);

}  // namespace procfs
