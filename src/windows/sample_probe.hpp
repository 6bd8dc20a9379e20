#pragma once
// The resource probe behind the sample command.

#include "platform/platform.hpp"
#include "windows/probe_outcome.hpp"
#include "windows/process_sample.hpp"

namespace windows {

// One reading of a process's processor times and working set. Found, not_found (no such
// process, or it has ended), or error "OPEN_PROCESS", "PROCESS_STATE", "PROCESS_TIMES",
// "PROCESS_MEMORY". The handle is closed before it returns. Scope "windows::sample".
ProbeOutcome<ProcessSample> sample(platform::Pid pid);

}  // namespace windows
