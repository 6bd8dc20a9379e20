#pragma once
// The recheck before an inspect row: is the process behind a held handle still the one seen?

#include <string_view>
#include <variant>

#include "windows/probe_error.hpp"
#include "windows/process_handle.hpp"

namespace windows {

// True: still running with the creation time `created_at`. False: it has ended. Error
// "PROCESS_STATE", "PROCESS_TIMES", or "PROCESS_CHANGED" when the creation time differs (the
// ID now names another process). Neither opens nor closes the handle.
// Scope "windows::alive_and_same".
std::variant<bool, ProbeError> alive_and_same(const ProcessHandle& handle,
                                              std::string_view created_at);

}  // namespace windows
