#pragma once
// The /proc/<pid> directories that open process handles hold, by PID, so that the query can
// read through a directory the run already holds instead of finding the process again, and
// through the thread the handle found running when the process's first thread has stopped.

#include "platform/platform.hpp"

namespace procfs {

// Owned by the handle; the query may update the thread it reads through.
struct HeldDirectory {
    int directory = -1;
    // While the process's first thread has stopped (its memory, executable and command line
    // then show only through another thread), a thread of it seen running; 0 otherwise.
    platform::Pid live_thread = 0;
};

void hold_directory(platform::Pid pid, HeldDirectory* directory);
// Forgets the directory only if it is still the one held for the PID.
void release_directory(platform::Pid pid, const HeldDirectory* directory);
// The directory held for the PID, or null.
HeldDirectory* held_directory(platform::Pid pid);

}  // namespace procfs
