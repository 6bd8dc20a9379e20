#pragma once
// The command lines of a set of processes, fetched from WMI in one query.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "windows/probe_error.hpp"

namespace windows {

// Process ID to command-line text (UTF-8, possibly empty); one entry per returned object.
using CommandLineMap = std::unordered_map<std::uint32_t, std::string>;

// The whole map, or the one error that stands for the whole query.
using CommandLineResult = std::variant<CommandLineMap, ProbeError>;

// Initialises COM, runs the query for `pids` (not empty, distinct) and uninitialises COM again.
CommandLineResult command_lines(const std::vector<std::uint32_t>& pids);

}  // namespace windows
