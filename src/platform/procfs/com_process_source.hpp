#pragma once
// Where the query service gets its Win32_Process rows: /proc.

#include <optional>

#include "platform/platform.hpp"
#include "platform/procfs/com_object.hpp"

namespace procfs {

// What /proc says about one queried ID.
struct ProcessLookup {
    // The row; nullopt when there is no such process (nobody has the ID, it names a thread
    // that does not lead its group, or the process ended or went away while being read). Its
    // command line is empty when the cmdline is empty or may not be read.
    std::optional<ProcessRow> row;
    // The tool itself ran short (of descriptors or memory): the answer is unknown, and saying
    // "no such process" would be a lie.
    bool failed = false;
};

ProcessLookup read_process_row(platform::Pid pid);

}  // namespace procfs
