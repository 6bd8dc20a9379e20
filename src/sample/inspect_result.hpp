#pragma once
// What one inspect row is built from.

#include <string>

#include "windows/probe_outcome.hpp"

namespace sample {

// A process that is still running, is still the one first seen and has a command line.
struct InspectedProcess {
    std::string created_at;
    std::string executable_path;
    std::string command_line;
};

// found (with the three texts), not_found, or error with its code.
using InspectResult = windows::ProbeOutcome<InspectedProcess>;

}  // namespace sample
