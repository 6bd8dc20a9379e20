#pragma once
// The other threads of a process whose main thread has stopped. Its own directory then shows
// no memory, no executable and no command line (the leader has let go of the address space),
// while any live thread still shows them; and only the threads tell whether the process has
// ended.

#include <cstdint>
#include <optional>

#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"

namespace procfs {

// Whether the process whose leader's stat reads `leader` has ended: a process whose every
// thread is exiting (or gone) has, even before its leader becomes a zombie. `task_path` names
// the task directory relative to `directory` ("task", or "/proc/<pid>/task" with AT_FDCWD).
bool process_has_ended(int directory, const char* task_path, const StatFields& leader);

// The counters from the first thread under `directory`/task that reports any; nullopt if none.
std::optional<StatusFields> memory_of_a_live_thread(int directory);

// The executable through the first thread under `directory`/task whose exe link reads, as
// read_image_name gives it; false if none does.
bool image_name_of_a_live_thread(int directory, char16_t* buffer, std::uint32_t& size);

// The first non-empty cmdline of a thread other than `leader` under `task_path` (relative to
// `directory`, as for process_has_ended); an empty text if none shows one, and the error when
// the task directory cannot be opened.
FileText cmdline_of_a_live_thread(int directory, const char* task_path, std::uint32_t leader);

}  // namespace procfs
