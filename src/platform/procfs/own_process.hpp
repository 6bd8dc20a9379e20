#pragma once
// The tool's own process: a handle that is never opened nor freed, and whose readings are always
// taken afresh (the diagnostics read them once, at the end of the run).

#include "platform/platform.hpp"

namespace procfs {

platform::Handle own_process_handle();
bool is_own_process(platform::Handle handle);

bool own_process_times(platform::FileTime& creation, platform::FileTime& exit,
                       platform::FileTime& kernel, platform::FileTime& user);
bool own_process_cpu_times(platform::FileTime& kernel, platform::FileTime& user);
bool own_process_memory(platform::MemoryCounters& counters);

}  // namespace procfs
