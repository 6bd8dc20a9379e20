#include <algorithm>
#include <memory>
#include <variant>

#include "diagnostics/timing_scope.hpp"
#include "text/utf.hpp"
#include "windows/filetime.hpp"
#include "windows/liveness.hpp"
#include "windows/open_process.hpp"
#include "windows/process_identity.hpp"
#include "windows/tick_text.hpp"

namespace windows {

ProbeOutcome<ProcessIdentity> handle_identity(platform::Pid pid) {
    diagnostics::TimingScope scope{"windows::handle_identity"};
    ProbeOutcome<ProcessHandle> opened = open_process(pid);
    if (opened.not_found()) return NotFound{};
    if (opened.is_error()) return opened.error();
    // Closed on every early return below, inside this scope.
    ProcessHandle handle = std::move(opened.value());

    const auto activity = still_active(handle);
    if (const ProbeError* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return NotFound{};

    platform::FileTime creation, exit, kernel, user;
    if (!platform::process_times(handle.get(), creation, exit, kernel, user)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_times};
    }

    // Not zeroed: the call writes what we read, and 64 KiB per process adds up at scale.
    const auto image_name = std::make_unique_for_overwrite<char16_t[]>(platform::image_name_units);
    std::uint32_t size = platform::image_name_units;
    if (!platform::full_process_image_name(handle.get(), 0, image_name.get(), size)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_path};
    }
    // Never trust a count beyond the buffer we gave.
    size = std::min(size, platform::image_name_units);
    std::string executable_path = text::utf16_to_utf8({image_name.get(), size});

    return ProcessIdentity{tick_text(filetime(creation)), std::move(handle),
                           std::move(executable_path)};
}

}  // namespace windows
