#pragma once
// The rows of the inspect command.

#include <cstdint>
#include <vector>

#include "json/value.hpp"
#include "sample/inspect_result.hpp"
#include "windows/command_lines.hpp"
#include "windows/process_identity.hpp"

namespace sample {

// One row per entry, in entry order. Each found process is rechecked through its held handle
// and looked up in the query result; its handle is closed right after, before its row is
// built, so later entries keep theirs open until their turn. Opens no scope.
std::vector<json::Value> inspect_rows(windows::IdentityList identities,
                                      const windows::CommandLineResult& command_lines);

// {"pid","status"} plus "code" for an error, or "createdAt", "executablePath" and
// "commandLine" for a found process. Scope "row".
json::Value row(std::uint32_t pid, InspectResult result);

}  // namespace sample
