#pragma once
// What a process handle points to: the open /proc/<pid> directory and what was read through it.

#include <optional>

#include "platform/platform.hpp"
#include "platform/procfs/proc_text.hpp"

namespace procfs {

struct ProcessEntry {
    platform::Pid pid = 0;
    // /proc/<pid>, opened once; every read goes through it, so a recycled PID is never read.
    int directory = -1;
    // Read by the first memory query (or at open, when the leadership had to be read from it);
    // only sample asks for memory, so inspect never pays for this dear file.
    std::optional<StatusFields> status;
    // Read by the latest exit-code query and used by the times query that follows it, so one
    // probe reads stat once while a later recheck still sees fresh state.
    std::optional<StatFields> stat;
    // The open read stat (so that a shortage of descriptors fails the open, not a later read);
    // the first exit-code query answers from that reading instead of reading it again.
    bool stat_from_open = false;
    // Seen by an exit-code query: the leader has stopped while other threads run on.
    bool leader_exited = false;
};

}  // namespace procfs
