#pragma once
// Where the query service gets its Win32_Process rows: /proc, one queried ID at a time, read
// through the directory the run's handle to that process holds.

#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace procfs {

// One Win32_Process row: its ID and its command line, empty when /proc has none to give. The
// text is kept as UTF-8, half the size of UTF-16, and made UTF-16 only in the BSTR handed out.
struct ProcessRow {
    platform::Pid pid = 0;
    std::string command_line;
};

// What /proc says about one queried ID.
struct ProcessLookup {
    // The row; nullopt when the run holds no handle to the process (the tool asks only about
    // processes it holds open) or the process ended or went away while being read. Its command
    // line is empty when the cmdline is empty or may not be read.
    std::optional<ProcessRow> row;
    // The tool itself ran short (of descriptors or memory): the answer is unknown, and saying
    // "no such process" would be a lie.
    bool failed = false;
};

ProcessLookup read_process_row(platform::Pid pid);

}  // namespace procfs
