#pragma once
// Is an opened process still running?

#include <variant>

#include "windows/probe_error.hpp"
#include "windows/process_handle.hpp"

namespace windows {

enum class Activity { running, exited };

// The still-active test: running while the exit code reads 259 (so a process that exited with
// 259 counts as running), exited otherwise, error "PROCESS_STATE" when the exit code cannot be
// read. Opens no scope.
std::variant<Activity, ProbeError> still_active(const ProcessHandle& handle);

// After a later query on an open handle failed: true when the process has ended in the meantime,
// false when it still runs or its state cannot be read (the caller then reports its own error).
// Scope "windows::terminated".
bool terminated(const ProcessHandle& handle);

}  // namespace windows
