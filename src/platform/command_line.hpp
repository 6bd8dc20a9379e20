#pragma once
// The command line of an opened process, on a system that tells it for each process on its own
// (Linux). Windows gives command lines through WMI instead (platform/com_calls.hpp).

#include <string>

#include "platform/platform.hpp"

namespace platform {

struct CommandLine {
    enum class Read {
        text,       // `text` holds it; empty when the process shows none or hides it
        gone,       // the process ended, or let go of what shows it, while it was read
        shortage,   // the tool ran short of descriptors or memory: nothing is known
    };
    Read read = Read::gone;
    std::string text;  // UTF-8, as a shell would take it back
};

CommandLine command_line(Processes& processes, Handle handle);

}  // namespace platform
