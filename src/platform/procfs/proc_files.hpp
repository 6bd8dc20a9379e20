#pragma once
// Reading /proc: whether it can be trusted, whether a PID names a process (a thread-group
// leader), a thread of one or nobody, a whole file relative to an open directory, what a
// failed read means, an executable's link, and the memory a task runs in.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace procfs {

// ---- Does a PID name a process?

enum class Leadership { leader, not_leader, unknown };

// tgkill counts PIDs in the tool's own PID namespace, /proc in the namespace it was mounted
// from (a new namespace may still see the host's /proc). They agree when /proc/self names the
// tool's own PID. And the call must answer for the tool itself, or a sandbox refuses it (and
// its "not permitted" says nothing of another process). Asked once by whoever reads processes.
bool signal_checks_answer_as_proc_would();

// tgkill(pid, pid, 0) finds the task and checks that it leads its thread group, so it tells a
// process from a thread or from nobody in one cheap call, with no text for the kernel to
// format and no descriptor; another user's process is a leader we may not signal. It also
// tells whether a process that /proc hides (hidepid) exists. unknown when the call cannot
// answer (a sandbox refuses it); ask only where signal_checks_answer_as_proc_would, else the
// caller asks the status file.
Leadership leadership_by_signal_check(platform::Pid pid);

// ---- Whole files

// The text of a file, or the errno of the failed open or read in `error`.
struct FileText {
    std::string_view text;
    int error = 0;
};

// Reads whole files into buffers of its own, grown on demand and reused, so a run allocates
// them once; a text is valid until the next read into the same buffer. Owned by the Processes
// of a run or a session, never shared.
class Reader {
public:
    // The text of `name` under `directory` (a descriptor, or AT_FDCWD for an absolute name).
    // A read shorter than asked ends the text: the /proc files read here (status, cmdline,
    // stat, /proc/stat) are made whole at the first read, so it saves the read that would
    // return 0.
    FileText read_file_at(int directory, const char* name);

    // The same for a file of one line, such as stat: only a short read that ends the line
    // ends it.
    FileText read_line_file_at(int directory, const char* name);

    // The same into a buffer of its own: for a stat read while the text of the last file is
    // still in use.
    FileText read_line_file_aside(int directory, const char* name);

    // The same through a descriptor held open since an earlier reading, read again from its
    // start (a read at offset 0 makes a process's /proc file anew). Once the process it was
    // opened for has been reaped, the read fails with ESRCH, whoever has its ID by then.
    FileText reread_file(int file);
    FileText reread_line_file(int file);

    // What frees descriptors when a read runs short of them (what a session keeps between
    // requests); it says whether it freed any. None unless set: the one-shot holds nothing it
    // could let go of.
    void set_shortage_relief(bool (*relief)(void* context), void* context);

    // For a caller that ran short of descriptors or memory (`error`): whether the relief
    // freed descriptors, so that the caller may try once more.
    bool relieved(int error);

    // Lets go of the main buffer when a long file (a command line of megabytes) grew it, so it
    // is not kept for the rest of the run beside the texts made of it. Ends the last text's
    // life.
    void release_long_file();

private:
    enum class Until { end_of_file, end_of_line };
    FileText read_whole(int directory, const char* name, Until until, std::string& buffer);
    FileText reread_whole(int file, Until until);

    std::string buffer_;
    std::string aside_;
    bool (*relief_)(void*) = nullptr;
    void* relief_context_ = nullptr;
};

// ENOENT or ESRCH: the task behind the directory is gone (reaped, or the entry never existed).
bool means_gone(int error);

// EMFILE, ENFILE or ENOMEM: the tool ran short of descriptors or memory, so the read says
// nothing of the process.
bool means_shortage(int error);

// ---- The executable: the target of a process's "exe" link

// What Windows gives at most, in UTF-16 units with the terminating null; a longer path is no
// answer on either system.
inline constexpr std::size_t longest_path_units = 32768;

// The link's target as UTF-8, bytes that are not UTF-8 made U+FFFD. nullopt (errno set) when
// the link cannot be read (a kernel thread has none; another user's process may refuse it) or
// the path is longer than longest_path_units allows.
std::optional<std::string> read_executable_path(int directory, const char* link);

// The file the link names: its device and inode, which tell one executable file from another
// (a copy of it included) whatever their paths. nullopt when it cannot be looked at.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
std::optional<FileIdentity> executable_identity(int directory, const char* link);

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

}  // namespace procfs
