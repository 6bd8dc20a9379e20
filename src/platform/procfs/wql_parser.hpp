#pragma once
// The one WQL query the procfs query service answers:
//   SELECT ProcessId, CommandLine FROM Win32_Process WHERE ProcessId=<n> OR ProcessId=<n> ...
// Keywords and names match without regard to case and blanks may surround every token, as in
// WQL; any other query is refused. One pass, no recursion, so ten thousand conditions cost no
// more stack than one.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace procfs {

// The process IDs of the conditions, in query order (repeats kept), or nullopt when the text
// is not that query.
std::optional<std::vector<std::uint32_t>> parse_process_query(std::string_view query);

}  // namespace procfs
