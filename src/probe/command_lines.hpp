#pragma once
// The command lines of the processes inspect found, fetched the way the system gives them: on
// Windows all at once, in one WMI query (probe/wmi_query.hpp); on Linux one process at a time,
// through its opened handle (probe/each_command_line.cpp). CMake links one of the two.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>

#include "platform/platform.hpp"
#include "probe/process_handle.hpp"
#include "probe/process_identity.hpp"

namespace probe {

// Process ID to command-line text (UTF-8, possibly empty); one entry per process the system
// answered for.
using CommandLineMap = std::unordered_map<std::uint32_t, std::string>;

// The whole map, or the one error that stands for every process asked about.
using CommandLineResult = std::variant<CommandLineMap, ProbeError>;

// How many process IDs inspect reads before it fetches their command lines: all of them where
// one query answers for all, one where each is read on its own, so that no more than one
// process is held open at a time. Zero means all.
std::size_t command_line_batch();

// The command lines of the found entries of `identities` (at least one). Scope
// "windows::command_lines".
CommandLineResult command_lines(platform::Processes& processes,
                                std::span<const IdentityEntry> identities);

}  // namespace probe
