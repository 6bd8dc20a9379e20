#pragma once
// Reading /proc: whether it can be trusted, whether a PID names a process (a thread-group
// leader), a thread of one or nobody, a whole file relative to an open directory, what a
// failed read means, an executable's link, and the memory a task runs in.

#include <cstdint>
#include <string_view>

#include "platform/platform.hpp"

namespace procfs {

// Whether /proc is a proc filesystem at all (a tmpfs may be mounted over it, so that every
// process directory seems missing); asked once per run.
bool proc_is_procfs();

// ---- Does a PID name a process?

enum class Leadership { leader, not_leader, unknown };

// tgkill(pid, pid, 0) finds the task and checks that it leads its thread group, so it tells a
// process from a thread or from nobody in one cheap call, with no text for the kernel to
// format and no descriptor; another user's process is a leader we may not signal. It also
// tells whether a process that /proc hides (hidepid) exists. unknown when the call cannot
// answer (a sandbox refuses it) or would count in another PID namespace than /proc does; the
// caller then asks the status file.
Leadership leadership_by_signal_check(platform::Pid pid);

// ---- Whole files

// The text of `name` under `directory` (a descriptor, or AT_FDCWD for an absolute name), or
// the errno of the failed open or read in `error`. The text lives in one buffer shared by all
// calls and is valid until the next call; the tool runs on one thread.
struct FileText {
    std::string_view text;
    int error = 0;
};

// A read shorter than asked ends the text: the /proc files read here (status, cmdline, stat,
// /proc/stat) are made whole at the first read, so it saves the read that would return 0.
FileText read_file_at(int directory, const char* name);

// The same for a file of one line, such as stat: only a short read that ends the line ends it.
FileText read_line_file_at(int directory, const char* name);

// The same into a buffer of its own, valid until its next call: for a stat read while the text
// of the last file is still in use.
FileText read_line_file_aside(int directory, const char* name);

// The same through a descriptor held open since an earlier reading, read again from its start
// (a read at offset 0 makes a process's /proc file anew). Once the process it was opened for
// has been reaped, the read fails with ESRCH, whoever has its ID by then.
FileText reread_file(int file);
FileText reread_line_file(int file);

// What frees descriptors when a read runs short of them (what a session keeps between
// requests); it says whether it freed any. None unless set: the one-shot holds nothing it
// could let go of.
void set_shortage_relief(bool (*relief)());

// For a caller that ran short of descriptors or memory (`error`): whether the relief freed
// descriptors, so that the caller may try once more.
bool relieved(int error);

// ENOENT or ESRCH: the task behind the directory is gone (reaped, or the entry never existed).
bool means_gone(int error);

// EMFILE, ENFILE or ENOMEM: the tool ran short of descriptors or memory, so the read says
// nothing of the process.
bool means_shortage(int error);

// ---- The executable: the target of a process's "exe" link, as UTF-16

// Fails when the link cannot be read (a kernel thread has none; another user's process may
// refuse it) or when the text and its terminating null do not fit in `size` units. On success
// `size` holds the units written without the null. Bytes that are not UTF-8 become U+FFFD.
bool read_image_name(int directory, const char* link, char16_t* buffer, std::uint32_t& size);

// ---- The memory a task runs in, held as a witness

// A descriptor on the pagemap of a task (`pagemap` under `directory`), opened on the memory the
// task runs in now. The kernel answers reads of it only while that memory lives, and a process
// lets go of it when it executes another program (or ends): the witness then reads nothing,
// as it does from the start for a task with no memory (a kernel thread, a leader that has
// stopped). -1 when it cannot be opened (a caller that may not trace the process, no
// descriptor left).
int open_memory_witness(int directory, const char* pagemap);

// Whether the memory the witness was opened on lives.
bool memory_lives(int witness);

// ---- After a long file

// Lets go of the shared buffer when a long file (a command line of megabytes) grew it, so it
// is not kept for the rest of the run beside the texts made of it. Ends the last text's life.
void release_long_file();

}  // namespace procfs
