#pragma once
// Every code the tool reports, as constant text: in error rows, in "unavailable" and in the
// diagnostics. Kept apart from the probes so that the diagnostics, which sit below them, use
// the same text.

#include <string_view>

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
