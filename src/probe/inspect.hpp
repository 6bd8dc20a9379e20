#pragma once
// The inspect command: identities of the processes, their command lines fetched the way the
// system gives them, then one row per process ID.

#include <cstdint>
#include <span>
#include <vector>

#include "platform/platform.hpp"
#include "probe/command_lines.hpp"
#include "probe/process_identity.hpp"

namespace probe {

// Takes the identities of one batch and the command lines fetched for them: the row builder
// (rows::inspect_rows), handed in by the caller so that the probes do not depend on the rows
// built on top of them.
class InspectRows {
public:
    virtual void add(IdentityList identities, const CommandLineResult& command_lines) = 0;

protected:
    ~InspectRows() = default;
};

// One row per ID, in the order given, handed to `rows` batch by batch (command_line_batch).
// Never fails as a whole: every problem becomes a row. Scope "inspect".
void inspect(platform::Processes& processes, const std::vector<std::uint32_t>& pids,
             InspectRows& rows);

}  // namespace probe
