#pragma once
// The inspect command: identities of all processes, one command-line query for those found,
// then one row per process ID.

#include <cstdint>
#include <vector>

#include "json/value.hpp"
#include "json/written_array.hpp"
#include "windows/command_lines.hpp"
#include "windows/process_identity.hpp"

namespace windows {

// Builds the rows from the identities and the query result: sample::inspect_rows. Handed in
// by the caller, so the probes here do not depend on the rows built on top of them.
using InspectRows = json::WrittenArray (*)(IdentityList identities,
                                           const CommandLineResult& command_lines);

// One row per ID, in the order given. Never fails as a whole: every problem becomes a row.
// Scope "inspect".
json::WrittenArray inspect(const std::vector<std::uint32_t>& pids, InspectRows rows);

}  // namespace windows
