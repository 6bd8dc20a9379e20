// The inspect command, in its three steps for each batch of IDs: identities, command lines,
// rows.
#include "probe/inspect.hpp"

#include <algorithm>

#include "diagnostics/timing_scope.hpp"

namespace probe {

void inspect(platform::Processes& processes, const std::vector<std::uint32_t>& pids,
             InspectRows& rows) {
    diagnostics::TimingScope scope{"inspect"};
    const std::size_t batch =
        std::max<std::size_t>(1, command_line_batch() == 0 ? pids.size() : command_line_batch());
    const std::span<const std::uint32_t> all{pids};
    for (std::size_t first = 0; first < all.size(); first += batch) {
        IdentityList identities =
            collect_identities(processes, all.subspan(first, std::min(batch, all.size() - first)));
        const bool any_found = std::any_of(identities.begin(), identities.end(),
                                           [](const IdentityEntry& e) { return e.outcome.found(); });
        // Nothing found, nothing to ask: COM is not even initialised.
        const CommandLineResult command_lines_result =
            any_found ? command_lines(processes, identities) : CommandLineResult{CommandLineMap{}};
        rows.add(std::move(identities), command_lines_result);
    }
}

}  // namespace probe
