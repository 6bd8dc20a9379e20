#pragma once
// The command line as main received it, kept for platform::arguments().

namespace procfs {

void remember_arguments(int argc, char** argv);

}  // namespace procfs
