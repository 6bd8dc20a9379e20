#include "windows/alive_and_same.hpp"

#include "diagnostics/timing_scope.hpp"
#include "windows/filetime.hpp"
#include "windows/liveness.hpp"
#include "windows/tick_text.hpp"

namespace windows {

std::variant<bool, ProbeError> alive_and_same(const ProcessHandle& handle,
                                              std::string_view created_at) {
    diagnostics::TimingScope scope{"windows::alive_and_same"};
    const auto activity = still_active(handle);
    if (const ProbeError* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return false;

    platform::FileTime creation, exit, kernel, user;
    if (!platform::process_times(handle.get(), creation, exit, kernel, user)) {
        return ProbeError{codes::process_times};
    }
    if (tick_text(filetime(creation)) != created_at) return ProbeError{codes::process_changed};
    return true;
}

}  // namespace windows
