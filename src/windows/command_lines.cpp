#include "windows/command_lines.hpp"

#include "diagnostics/timing_scope.hpp"
#include "platform/platform.hpp"
#include "windows/command_line_query.hpp"

namespace windows {

CommandLineResult command_lines(const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::command_lines"};
    // S_FALSE (already initialised on this thread) counts as success and is balanced below.
    if (platform::co_initialize_ex(nullptr, platform::coinit_multithreaded) < 0) {
        return ProbeError{codes::com_init};
    }
    CommandLineResult result = query_command_lines(pids);
    platform::co_uninitialize();
    return result;
}

}  // namespace windows
