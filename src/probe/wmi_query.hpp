#pragma once
// The command lines of a set of processes, fetched from WMI in one query: the sequence from
// COM initialisation to the last result, over the COM calls of platform/com_calls.hpp.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/com_calls.hpp"
#include "probe/command_lines.hpp"
#include "probe/process_handle.hpp"

namespace probe {

// Initialises COM, runs the query for `pids` (not empty, distinct) and uninitialises COM again.
// Scope "windows::command_lines".
CommandLineResult wmi_command_lines(const std::vector<std::uint32_t>& pids);

// The steps under command_lines, one per COM object they own. Each releases what it obtained
// after the step it called has returned, so objects go in the reverse order of acquisition.

// COM is initialised: creates the locator.
CommandLineResult query_command_lines(const std::vector<std::uint32_t>& pids);

// Connects the locator to ROOT\CIMV2.
CommandLineResult query_connected(platform::ComObject* locator,
                                  const std::vector<std::uint32_t>& pids);

// Secures the connection and runs the query.
CommandLineResult query_services(platform::ComObject* services,
                                 const std::vector<std::uint32_t>& pids);

// Fetches the results one at a time into the map.
CommandLineResult collect_enumerator(platform::ComObject* enumerator);

// The WQL text selecting ProcessId and CommandLine of exactly `pids`, one condition each.
std::string command_line_query(const std::vector<std::uint32_t>& pids);

// "ProcessId" as VT_I4 or VT_UI4, its 32 bits read as unsigned.
std::variant<std::uint32_t, ProbeError> read_variant_pid(platform::ComObject* object);

// A text property: nullopt when the value is absent (VT_EMPTY, VT_NULL or a null BSTR).
std::variant<std::optional<std::string>, ProbeError> read_variant_text(
    platform::ComObject* object, std::string_view property);

}  // namespace probe
