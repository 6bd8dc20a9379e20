#include "windows/liveness.hpp"

#include <cstdint>

#include "diagnostics/timing_scope.hpp"

namespace windows {

std::variant<Activity, ProbeError> still_active(const ProcessHandle& handle) {
    std::uint32_t exit_code = 0;
    if (!platform::exit_code_process(handle.get(), exit_code)) {
        return ProbeError{codes::process_state};
    }
    return exit_code == platform::still_active ? Activity::running : Activity::exited;
}

bool terminated(const ProcessHandle& handle) {
    diagnostics::TimingScope scope{"windows::terminated"};
    std::uint32_t exit_code = 0;
    return platform::exit_code_process(handle.get(), exit_code) &&
           exit_code != platform::still_active;
}

}  // namespace windows
