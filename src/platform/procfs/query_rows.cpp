// One row of the query from /proc: is the ID a process (through the directory a handle of this
// run holds, or found afresh), then its cmdline; when that reads empty, through another thread,
// then again after a pause while an execve lays out the new arguments; last the text joined.

#include "platform/procfs/query_rows.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <time.h>
#include <unistd.h>
#include <utility>

#include "platform/procfs/held_directories.hpp"
#include "platform/procfs/other_threads.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "text/utf.hpp"

namespace procfs {

namespace {

// The tool's own shortage, not a fact about the process.
bool out_of_resources(int error) { return error == EMFILE || error == ENFILE || error == ENOMEM; }

std::string proc_path(platform::Pid pid, const char* file) {
    return "/proc/" + std::to_string(pid) + "/" + file;
}

// failed: the tool ran short, so the answer is unknown.
enum class Lookup { leader, not_leader, failed };

// When the signal check cannot answer, the status file tells.
Lookup leadership_by_status(platform::Pid pid) {
    const FileText status = read_file_at(AT_FDCWD, proc_path(pid, "status").c_str());
    if (out_of_resources(status.error)) return Lookup::failed;
    if (status.error != 0) return Lookup::not_leader;
    const std::optional<std::uint64_t> group = parse_status(status.text).thread_group;
    return (group && *group == pid) ? Lookup::leader : Lookup::not_leader;
}

Lookup leadership(platform::Pid pid) {
    switch (leadership_by_signal_check(pid)) {
        case Leadership::leader: return Lookup::leader;
        case Leadership::not_leader: return Lookup::not_leader;
        case Leadership::unknown: break;
    }
    return leadership_by_status(pid);
}

// Where the files of one process are read: the directory an open handle holds (relative
// names, and the process is known to be one), or /proc/<pid>/ found afresh by path.
struct ProcessFiles {
    int directory = AT_FDCWD;
    std::string prefix;

    FileText read(const char* name) const {
        return read_file_at(directory, (prefix + name).c_str());
    }
};

// A process whose first thread has ended while others run on shows an empty cmdline in its
// own directory, though its arguments are still there; any live thread of it gives them.
// Only running out of descriptors or memory counts as a failure here.
FileText cmdline_of_another_thread(const ProcessFiles& files, platform::Pid pid) {
    const std::string tasks = files.prefix + "task";
    FileText found = cmdline_of_a_live_thread(files.directory, tasks.c_str(), pid);
    if (found.error != 0 && !out_of_resources(found.error)) found.error = 0;
    return found;
}

// What stat says of a process whose cmdline read empty.
struct EmptyCmdline {
    bool ended = false;
    bool kernel_thread = false;
    // env_end, shown to whoever may read the process's memory: 0 while an execve is laying
    // out the new arguments and environment (the kernel shows no cmdline until it is set), and
    // most likely a new value after every execve, as the stack is placed at random. 0 too when
    // not shown.
    std::uint64_t environment_end = 0;
};

// Windows lists no process that has exited, even while a handle keeps it; a process whose
// threads are all exiting, or a zombie, is that state here, so it drops out like any ended
// process and its row becomes not_found. Read only on the rare empty-cmdline path.
EmptyCmdline look_at(const ProcessFiles& files) {
    const FileText stat = files.read("stat");
    if (means_gone(stat.error)) return {.ended = true};
    const std::optional<StatFields> fields =
        stat.error == 0 ? parse_stat(stat.text) : std::nullopt;
    if (!fields) return {};
    EmptyCmdline look;
    // Taken before the text is overwritten by the next read.
    look.environment_end = parse_stat_field(stat.text, 51).value_or(0);
    look.kernel_thread = (fields->flags & kernel_thread) != 0;
    look.ended = process_has_ended(files.directory, (files.prefix + "task").c_str(), *fields);
    return look;
}

// The waits between readings of an empty cmdline: doubled each time up to 10 ms, about 300 ms
// in all. An execve is over in well under a millisecond, but a process preempted in its middle
// on a loaded machine stays there for as long as the scheduler keeps it off a processor; only
// a process in that state, or one whose stat hides env_end from us, ever waits this long.
constexpr long first_pause_ns = 20'000;
constexpr long longest_pause_ns = 10'000'000;
constexpr long all_pauses_ns = 300'000'000;

// A process in the middle of execve, between taking its new memory and laying its arguments
// out there, shows an empty cmdline; a moment later it shows the new one. It is read again
// until then. A process that emptied its own argument range, or a kernel thread, stays empty
// and is not waited for. An empty text when the process has ended.
FileText cmdline_after_execve(const ProcessFiles& files, bool& ended) {
    FileText cmdline;
    long paused = 0;
    for (long pause = first_pause_ns; paused < all_pauses_ns;
         paused += pause, pause = std::min(pause * 2, longest_pause_ns)) {
        const EmptyCmdline before = look_at(files);
        ended = before.ended;
        if (ended || before.kernel_thread) return {};
        if (before.environment_end == 0) {
            const timespec wait{0, pause};
            ::nanosleep(&wait, nullptr);
        }
        cmdline = files.read("cmdline");
        ended = means_gone(cmdline.error);
        if (ended || cmdline.error != 0 || !cmdline.text.empty()) return cmdline;
        if (before.environment_end != 0) {
            // Empty for good, unless an execve came and went between the two looks.
            const EmptyCmdline after = look_at(files);
            ended = after.ended;
            if (ended || after.environment_end == before.environment_end) return {};
        }
    }
    return {};
}

}  // namespace

ProcessLookup read_process_row(platform::Pid pid) {
    ProcessFiles files;
    // A handle of this run holds the process: it led its group when opened, and its directory
    // cannot name another process since.
    files.directory = held_directory(pid);
    if (files.directory < 0) {
        switch (leadership(pid)) {
            case Lookup::leader: break;
            case Lookup::failed: return {std::nullopt, true};
            default: return {};
        }
        files.directory = AT_FDCWD;
        files.prefix = proc_path(pid, "");
    }
    FileText cmdline = files.read("cmdline");
    if (means_gone(cmdline.error)) return {};
    if (cmdline.error == 0 && cmdline.text.empty()) {
        cmdline = cmdline_of_another_thread(files, pid);
    }
    if (cmdline.error == 0 && cmdline.text.empty()) {
        bool ended = false;
        cmdline = cmdline_after_execve(files, ended);
        if (ended) return {};
    }
    if (out_of_resources(cmdline.error)) return {std::nullopt, true};

    // Never absent: one process's empty or unreadable command line is its own row's error
    // ("WMI_COMMAND_LINE"), where a null one would fail the query for every process.
    ProcessRow row;
    row.pid = pid;
    if (cmdline.error == 0) {
        if (std::optional<std::string> text = command_line_from_cmdline(cmdline.text)) {
            row.command_line = std::move(*text);
        }
    }
    release_long_file();
    return {std::move(row), false};
}

}  // namespace procfs
