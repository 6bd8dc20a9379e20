#pragma once
// The registry as JSON: one function row per registry row.

#include <vector>

#include "diagnostics/registry.hpp"
#include "json/value.hpp"

namespace diagnostics {

// {"calls":…,"kind":"sync","maxMs":…,"name":…,"totalMs":…}
json::Value function_row(const FunctionStats& stats);

// One row per registry row of the calling thread, in registry order. Records nothing.
std::vector<json::Value> function_rows();

}  // namespace diagnostics
