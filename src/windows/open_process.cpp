#include "windows/open_process.hpp"

namespace windows {

ProbeOutcome<ProcessHandle> open_process(platform::Pid pid) {
    platform::Handle handle =
        platform::open_process(platform::process_query_limited_information, false, pid);
    if (handle != nullptr) return ProcessHandle{handle};
    // The last error is only meaningful right after the failed open.
    if (platform::last_error() == platform::error_invalid_parameter) return NotFound{};
    return ProbeError{codes::open_process};
}

}  // namespace windows
