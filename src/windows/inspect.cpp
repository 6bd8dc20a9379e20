// Built into zul_sample, not zul_windows: the command joins the probes of this folder with the
// rows of src/sample, and zul_sample already depends on zul_windows.
#include "windows/inspect.hpp"

#include "diagnostics/timing_scope.hpp"
#include "sample/inspect_rows.hpp"
#include "windows/command_lines.hpp"
#include "windows/process_identity.hpp"

namespace windows {

std::vector<json::Value> inspect(const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"inspect"};
    IdentityList identities = collect_identities(pids);

    std::vector<std::uint32_t> found;
    for (const IdentityEntry& entry : identities) {
        if (entry.outcome.found()) found.push_back(entry.pid);
    }
    // Nothing found, nothing to ask: COM is not even initialised.
    const CommandLineResult query_result =
        found.empty() ? CommandLineResult{CommandLineMap{}} : command_lines(found);

    return sample::inspect_rows(std::move(identities), query_result);
}

}  // namespace windows
