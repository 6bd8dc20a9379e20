#pragma once
// The "diagnostics" object of the document: the registry as function rows and the tool's own
// processor time and memory.

#include "json/value.hpp"
#include "platform/platform.hpp"

namespace diagnostics {

// Built once, at the very end of a run with diagnostics on, from the calling thread's registry.
json::Value summary(platform::Instant run_start);

}  // namespace diagnostics
