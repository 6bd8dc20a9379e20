#pragma once
// The steps under command_lines, one per COM object they own. Each releases what it obtained
// after the step it called has returned, so objects go in the reverse order of acquisition.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "windows/command_lines.hpp"

namespace windows {

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

}  // namespace windows
