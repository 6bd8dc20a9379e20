#pragma once
// COM's per-thread initialisation count, kept the way CoInitializeEx and CoUninitialize keep it.

namespace procfs {

// True between a successful initialisation on this thread and its balancing uninitialisation.
bool com_initialized_on_this_thread();

}  // namespace procfs
