// The held directories by PID: a process handle puts its directory in when it opens and takes
// it out when it closes; the command-line query asks in between.

#include "platform/procfs/held_directories.hpp"

#include "pid_table/pid_table.hpp"

namespace procfs {
namespace {

pid_table::PidTable<HeldDirectory*>& held() {
    static pid_table::PidTable<HeldDirectory*> table;
    return table;
}

}  // namespace

void hold_directory(platform::Pid pid, HeldDirectory* directory) {
    if (pid == 0) return;
    held().insert(pid).value = directory;
}

void release_directory(platform::Pid pid, const HeldDirectory* directory) {
    HeldDirectory* const* held_one = held().find(pid);
    if (held_one != nullptr && *held_one == directory) held().erase(pid);
}

HeldDirectory* held_directory(platform::Pid pid) {
    HeldDirectory* const* held_one = held().find(pid);
    return held_one == nullptr ? nullptr : *held_one;
}

}  // namespace procfs
