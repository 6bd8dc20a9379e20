#pragma once
// The inspect command: identities of all processes, one command-line query for those found,
// then one row per process ID.

#include <cstdint>
#include <vector>

#include "json/value.hpp"

namespace windows {

// One row per ID, in the order given. Never fails as a whole: every problem becomes a row.
std::vector<json::Value> inspect(const std::vector<std::uint32_t>& pids);

}  // namespace windows
