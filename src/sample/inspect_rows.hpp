#pragma once
// The rows of the inspect command.

#include <cstdint>
#include <string>
#include <vector>

#include "json/value.hpp"
#include "json/written_array.hpp"
#include "windows/command_lines.hpp"
#include "windows/process_identity.hpp"

namespace sample {

// A process that is still running, is still the one first seen and has a command line.
struct InspectedProcess {
    std::string created_at;
    std::string executable_path;
    std::string command_line;
};

// What one inspect row is built from: found (with the three texts), not_found, or error with
// its code.
using InspectResult = windows::ProbeOutcome<InspectedProcess>;

// One row per entry, in entry order. Each found process is rechecked through its held handle
// and looked up in the query result; its handle is closed right after, before its row is
// built, so later entries keep theirs open until their turn. Each row is written as soon as it
// is built and only its text kept. Opens no scope. This is the row builder the inspect command
// (windows::inspect) is handed.
json::WrittenArray inspect_rows(windows::IdentityList identities,
                                const windows::CommandLineResult& command_lines);

// {"pid","status"} plus "code" for an error, or "createdAt", "executablePath" and
// "commandLine" for a found process. Scope "row".
json::Value row(std::uint32_t pid, InspectResult result);

}  // namespace sample
