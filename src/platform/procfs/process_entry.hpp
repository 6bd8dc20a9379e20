#pragma once
// What a process handle points to: the open /proc/<pid> directory and what was read through it.

#include <optional>

#include "platform/procfs/stat_text.hpp"
#include "platform/procfs/status_text.hpp"

namespace procfs {

struct ProcessEntry {
    // /proc/<pid>, opened once; every read goes through it, so a recycled PID is never read.
    int directory = -1;
    // Read when the handle was opened (the Tgid check needs it); the memory counters come from it.
    StatusFields status;
    // Read by the latest exit-code query and used by the times query that follows it, so one
    // probe reads stat once while a later recheck still sees fresh state.
    std::optional<StatFields> stat;
    // Seen by an exit-code query: the leader is a zombie while other threads run on.
    bool leader_exited = false;
};

}  // namespace procfs
