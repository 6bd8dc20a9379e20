#pragma once
// Reading a whole /proc file relative to an open directory.

#include <string_view>

namespace procfs {

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

// Lets go of the shared buffer when a long file (a command line of megabytes) grew it, so it
// is not kept for the rest of the run beside the texts made of it. Ends the last text's life.
void release_long_file();

// ENOENT or ESRCH: the task behind the directory is gone (reaped, or the entry never existed).
bool means_gone(int error);

// Whether /proc is a proc filesystem at all (a tmpfs may be mounted over it, so that every
// process directory seems missing); asked once per run.
bool proc_is_procfs();

}  // namespace procfs
