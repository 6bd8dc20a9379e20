#pragma once
// Opening another process for the probes.

#include "platform/platform.hpp"
#include "windows/probe_outcome.hpp"
#include "windows/process_handle.hpp"

namespace windows {

// OpenProcess with PROCESS_QUERY_LIMITED_INFORMATION only, no inheritance. A PID nobody has
// (last error 87) is not_found; any other failure, access denied included, is "OPEN_PROCESS".
// Runs inside the scope of the probe that calls it.
ProbeOutcome<ProcessHandle> open_process(platform::Pid pid);

}  // namespace windows
