#pragma once
// What the entry point hands the backend before the run starts.

namespace platform::win32 {

// Keeps wmain's argument vector for platform::arguments(); the C runtime owns it for the whole run.
void keep_arguments(int argc, wchar_t** argv);

}  // namespace platform::win32
