// The inspect command, in its three steps: identities, the query, the rows.
#include "windows/inspect.hpp"

#include "diagnostics/timing_scope.hpp"

namespace windows {

json::WrittenArray inspect(const std::vector<std::uint32_t>& pids, InspectRows rows) {
    diagnostics::TimingScope scope{"inspect"};
    IdentityList identities = collect_identities(pids);

    std::vector<std::uint32_t> found;
    for (const IdentityEntry& entry : identities) {
        if (entry.outcome.found()) found.push_back(entry.pid);
    }
    // Nothing found, nothing to ask: COM is not even initialised.
    const CommandLineResult query_result =
        found.empty() ? CommandLineResult{CommandLineMap{}} : command_lines(found);

    return rows(std::move(identities), query_result);
}

}  // namespace windows
