#pragma once
// A process handle from the open to the close: the outcomes and codes every probe reports, the
// handle's owner, opening, closing, the still-running and ended tests, and FILETIME conversion.

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

#include "codes/codes.hpp"
#include "platform/platform.hpp"

namespace probe {

// A probe failure. The code is a literal, so copying the error copies a reference to it.
struct ProbeError {
    std::string_view code;

    friend bool operator==(const ProbeError&, const ProbeError&) = default;
};


struct NotFound {
    friend bool operator==(const NotFound&, const NotFound&) = default;
};

// The three-way result of every process probe: found with a value, not_found, or an error.
template <typename T>
class ProbeOutcome {
public:
    ProbeOutcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    ProbeOutcome(NotFound) : state_(std::in_place_index<1>) {}
    ProbeOutcome(ProbeError error) : state_(std::in_place_index<2>, error) {}

    bool found() const { return state_.index() == 0; }
    bool not_found() const { return state_.index() == 1; }
    bool is_error() const { return state_.index() == 2; }

    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    const ProbeError& error() const { return std::get<2>(state_); }

private:
    std::variant<T, NotFound, ProbeError> state_;
};

// Owns an opened process from the moment the platform hands it out. Move-only; destroying
// (or closing) an owning handle runs probe::drop_handle on it exactly once, and a moved-from
// ProcessHandle owns nothing. It knows the Processes it was opened through, which every later
// call on it is passed.
class ProcessHandle {
public:
    ProcessHandle(platform::Processes& processes, platform::Handle handle,
                  bool earlier_process_gone = false) noexcept
        : processes_(&processes), handle_(handle), earlier_process_gone_(earlier_process_gone) {}
    ~ProcessHandle();

    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    platform::Handle get() const noexcept { return handle_; }
    platform::Processes& processes() const noexcept { return *processes_; }
    bool owns() const noexcept { return handle_ != nullptr; }
    // What the open told: the process the ID named when last read has been reaped since.
    bool earlier_process_gone() const noexcept { return earlier_process_gone_; }

    // Closes the handle now rather than at destruction; afterwards it owns nothing.
    void close() noexcept;

private:
    platform::Processes* processes_;
    platform::Handle handle_ = nullptr;
    bool earlier_process_gone_ = false;
};

// Opens the process for reading. A PID nobody has is not_found; any other failure, access
// denied included, is "OPEN_PROCESS". Runs inside the scope of the probe that calls it.
ProbeOutcome<ProcessHandle> open_process(platform::Processes& processes, platform::Pid pid);

// Closes the handle under the scope "windows::drop_handle". A failed close changes nothing and
// is not reported. Only ProcessHandle calls it, so every handle is closed exactly once.
void drop_handle(platform::Processes& processes, platform::Handle handle) noexcept;

enum class Activity { running, exited };

// The still-active test: running or exited as the platform tells it, error "PROCESS_STATE" when
// it cannot tell. Opens no scope.
std::variant<Activity, ProbeError> still_active(const ProcessHandle& handle);

// After a later query on an open handle failed: true when the process has ended in the meantime,
// false when it still runs or its state cannot be read (the caller then reports its own error).
// Scope "windows::terminated".
bool terminated(const ProcessHandle& handle);

// The 100-ns ticks of a FILETIME: high × 2^32 + low. Scope "windows::filetime", one call per
// converted value.
std::uint64_t filetime(platform::FileTime time);

}  // namespace probe
