#pragma once
// The resident counters of a process whose main thread has ended while others run on: its own
// status shows none (the leader has let go of the address space), any live thread's shows them.

#include <optional>

#include "platform/procfs/status_text.hpp"

namespace procfs {

// The counters from the first thread under `directory`/task that reports any; nullopt if none.
std::optional<StatusFields> memory_of_a_live_thread(int directory);

}  // namespace procfs
