#pragma once
// The services a run asks of the system besides processes: its arguments, the environment,
// the clock and the two output streams. Only the arguments need the entry point's help.

namespace procfs {

// The command line as main received it, kept for platform::arguments().
void remember_arguments(int argc, char** argv);

}  // namespace procfs
