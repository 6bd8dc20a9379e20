// The handle's life in the order a probe meets it: opened, owned, closed; then the liveness
// tests on an open handle and the conversion of the times it reports.
#include "windows/process_handle.hpp"

#include "diagnostics/timing_scope.hpp"

namespace windows {

ProbeOutcome<ProcessHandle> open_process(platform::Pid pid) {
    platform::Handle handle =
        platform::open_process(platform::process_query_limited_information, false, pid);
    if (handle != nullptr) return ProcessHandle{handle};
    // The last error is only meaningful right after the failed open.
    if (platform::last_error() == platform::error_invalid_parameter) return NotFound{};
    return ProbeError{codes::open_process};
}

ProcessHandle::~ProcessHandle() { close(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void ProcessHandle::close() noexcept {
    if (handle_ != nullptr) drop_handle(std::exchange(handle_, nullptr));
}

void drop_handle(platform::Handle handle) noexcept {
    diagnostics::TimingScope scope{"windows::drop_handle"};
    platform::close_handle(handle);
}

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

std::uint64_t filetime(platform::FileTime time) {
    diagnostics::TimingScope scope{"windows::filetime"};
    return (std::uint64_t{time.high} << 32) | time.low;
}

}  // namespace windows
