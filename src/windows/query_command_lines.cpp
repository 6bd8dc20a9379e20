#include "diagnostics/timing_scope.hpp"
#include "windows/com_owner.hpp"
#include "windows/command_line_query.hpp"

namespace windows {

CommandLineResult query_command_lines(const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::query_command_lines"};
    ComOwner locator;
    if (platform::create_wbem_locator(platform::clsctx_inproc_server, locator.out()) < 0) {
        return ProbeError{codes::wmi_locator};
    }
    CommandLineResult result = query_connected(locator.get(), pids);
    locator.reset();
    return result;
}

}  // namespace windows
