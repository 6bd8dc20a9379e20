// The program's entry point: the wide entry point, so the C runtime splits the wide command line
// and no argument passes through the ANSI code page.

#include "main/output.hpp"
#include "main/run.hpp"
#include "platform/win32/startup.hpp"

int wmain(int argc, wchar_t** argv) {
    app::end_cleanly_when_memory_runs_out();
    platform::win32::keep_arguments(argc, argv);
    return app::run();
}
