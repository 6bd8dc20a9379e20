// The command lines of inspect's processes where the system tells each one on its own (Linux):
// read through the process's opened handle, one process at a time.
#include "probe/command_lines.hpp"

#include "diagnostics/timing_scope.hpp"
#include "platform/command_line.hpp"

namespace probe {

// One process at a time: its handle is the only one held open while its row is made.
std::size_t command_line_batch() { return 1; }

CommandLineResult command_lines(platform::Processes& processes,
                                std::span<const IdentityEntry> identities) {
    diagnostics::TimingScope scope{"windows::command_lines"};
    CommandLineMap map;
    for (const IdentityEntry& entry : identities) {
        if (!entry.outcome.found()) continue;
        platform::CommandLine line =
            platform::command_line(processes, entry.outcome.value()->handle.get());
        switch (line.read) {
        case platform::CommandLine::Read::text:
            map.emplace(entry.pid, std::move(line.text));
            break;
        case platform::CommandLine::Read::gone:
            // No entry: the recheck tells an ended process (not_found) from one that let go
            // of its arguments while it runs ("WMI_MISSING").
            break;
        case platform::CommandLine::Read::shortage:
            // The tool ran short: nothing is known of the command line.
            return ProbeError{codes::wmi_enumeration};
        }
    }
    return map;
}

}  // namespace probe
