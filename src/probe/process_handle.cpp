// The handle's life in the order a probe meets it: opened, owned, closed; then the liveness
// tests on an open handle and the conversion of the times it reports.
#include "probe/process_handle.hpp"

#include "diagnostics/timing_scope.hpp"

namespace probe {

ProbeOutcome<ProcessHandle> open_process(platform::Processes& processes, platform::Pid pid) {
    const platform::Opened opened = platform::open_process(processes, pid);
    if (opened.handle != nullptr) {
        return ProcessHandle{processes, opened.handle, opened.earlier_process_gone};
    }
    if (opened.failure == platform::OpenFailure::no_such_process) return NotFound{};
    return ProbeError{codes::open_process};
}

ProcessHandle::~ProcessHandle() { close(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : processes_(other.processes_),
      handle_(std::exchange(other.handle_, nullptr)),
      earlier_process_gone_(other.earlier_process_gone_) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        close();
        processes_ = other.processes_;
        handle_ = std::exchange(other.handle_, nullptr);
        earlier_process_gone_ = other.earlier_process_gone_;
    }
    return *this;
}

void ProcessHandle::close() noexcept {
    if (handle_ != nullptr) drop_handle(*processes_, std::exchange(handle_, nullptr));
}

void drop_handle(platform::Processes& processes, platform::Handle handle) noexcept {
    diagnostics::TimingScope scope{"windows::drop_handle"};
    platform::close_process(processes, handle);
}

std::variant<Activity, ProbeError> still_active(const ProcessHandle& handle) {
    const auto liveness = platform::liveness(handle.processes(), handle.get());
    if (!liveness) return ProbeError{codes::process_state};
    return *liveness == platform::Liveness::running ? Activity::running : Activity::exited;
}

bool terminated(const ProcessHandle& handle) {
    diagnostics::TimingScope scope{"windows::terminated"};
    return platform::liveness(handle.processes(), handle.get()) == platform::Liveness::exited;
}

std::uint64_t filetime(platform::FileTime time) {
    diagnostics::TimingScope scope{"windows::filetime"};
    return (std::uint64_t{time.high} << 32) | time.low;
}

}  // namespace probe
