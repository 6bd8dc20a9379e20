#pragma once
// The /proc/<pid> directories that open process handles hold, by PID, so that the query can
// read through a directory the run already holds instead of finding the process again.

#include "platform/platform.hpp"

namespace procfs {

void hold_directory(platform::Pid pid, int directory);
// Forgets the directory only if it is still the one held for the PID.
void release_directory(platform::Pid pid, int directory);
// The directory held for the PID, or -1.
int held_directory(platform::Pid pid);

}  // namespace procfs
