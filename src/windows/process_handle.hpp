#pragma once
// A process handle from the open to the close: the outcomes and codes every probe reports, the
// handle's owner, opening, closing, the still-running and ended tests, and FILETIME conversion.

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

#include "platform/platform.hpp"

namespace windows {

// A probe failure. The code is a literal, so copying the error copies a reference to it.
struct ProbeError {
    std::string_view code;

    friend bool operator==(const ProbeError&, const ProbeError&) = default;
};

// Every code the tool reports, as constant text.
namespace codes {
inline constexpr std::string_view open_process = "OPEN_PROCESS";
inline constexpr std::string_view process_state = "PROCESS_STATE";
inline constexpr std::string_view process_times = "PROCESS_TIMES";
inline constexpr std::string_view process_memory = "PROCESS_MEMORY";
inline constexpr std::string_view process_path = "PROCESS_PATH";
inline constexpr std::string_view process_changed = "PROCESS_CHANGED";
inline constexpr std::string_view wmi_missing = "WMI_MISSING";
inline constexpr std::string_view wmi_command_line = "WMI_COMMAND_LINE";
inline constexpr std::string_view com_init = "COM_INIT";
inline constexpr std::string_view wmi_locator = "WMI_LOCATOR";
inline constexpr std::string_view wmi_connect = "WMI_CONNECT";
inline constexpr std::string_view wmi_proxy = "WMI_PROXY";
inline constexpr std::string_view wmi_query = "WMI_QUERY";
inline constexpr std::string_view wmi_enumeration = "WMI_ENUMERATION";
inline constexpr std::string_view wmi_pid_type = "WMI_PID_TYPE";
inline constexpr std::string_view wmi_pid = "WMI_PID";
inline constexpr std::string_view wmi_property_type = "WMI_PROPERTY_TYPE";
inline constexpr std::string_view wmi_property = "WMI_PROPERTY";
inline constexpr std::string_view wmi_duplicate = "WMI_DUPLICATE";
// Plain markers written straight into the output, never carried by a ProbeError.
inline constexpr std::string_view process_not_found = "PROCESS_NOT_FOUND";
inline constexpr std::string_view resource_query_failed = "WIN32_RESOURCE_QUERY_FAILED";
}  // namespace codes

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

// Owns an open process handle from the moment OpenProcess returns it. Move-only; destroying
// (or closing) an owning handle runs windows::drop_handle on it exactly once, and a moved-from
// ProcessHandle owns nothing.
class ProcessHandle {
public:
    explicit ProcessHandle(platform::Handle handle) noexcept : handle_(handle) {}
    ~ProcessHandle();

    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    platform::Handle get() const noexcept { return handle_; }
    bool owns() const noexcept { return handle_ != nullptr; }

    // Closes the handle now rather than at destruction; afterwards it owns nothing.
    void close() noexcept;

private:
    platform::Handle handle_ = nullptr;
};

// OpenProcess with PROCESS_QUERY_LIMITED_INFORMATION only, no inheritance. A PID nobody has
// (last error 87) is not_found; any other failure, access denied included, is "OPEN_PROCESS".
// Runs inside the scope of the probe that calls it.
ProbeOutcome<ProcessHandle> open_process(platform::Pid pid);

// CloseHandle under the scope "windows::drop_handle". A failed close changes nothing and is
// not reported. Only ProcessHandle calls it, so every handle is closed exactly once.
void drop_handle(platform::Handle handle) noexcept;

enum class Activity { running, exited };

// The still-active test: running while the exit code reads 259 (so a process that exited with
// 259 counts as running), exited otherwise, error "PROCESS_STATE" when the exit code cannot be
// read. Opens no scope.
std::variant<Activity, ProbeError> still_active(const ProcessHandle& handle);

// After a later query on an open handle failed: true when the process has ended in the meantime,
// false when it still runs or its state cannot be read (the caller then reports its own error).
// Scope "windows::terminated".
bool terminated(const ProcessHandle& handle);

// The 100-ns ticks of a FILETIME: high × 2^32 + low. Scope "windows::filetime", one call per
// converted value.
std::uint64_t filetime(platform::FileTime time);

}  // namespace windows
