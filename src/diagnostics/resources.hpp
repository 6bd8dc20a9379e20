#pragma once
// The tool's own processor time and memory, as the "resources" object of the diagnostics.

#include "json/value.hpp"
#include "platform/platform.hpp"

namespace diagnostics {

// Measured under "diagnostics::resources". A failed query leaves its values null and sets
// "unavailable"; it never fails the run.
json::Value resources(platform::Instant run_start);

}  // namespace diagnostics
