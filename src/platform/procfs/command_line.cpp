// The command line of an opened process, read through the directory its handle holds: its
// cmdline; when that reads empty, through a thread that runs, or again after a pause while an
// execve lays out the new arguments; then, only when its text hangs on it, the argument area in
// stat; last the text.

#include "platform/command_line.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <time.h>
#include <utility>

#include "platform/procfs/other_threads.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/processes_state.hpp"

namespace procfs {

namespace {

// The files of one process, read through the directory its handle holds, and the thread to
// read through while the process's first thread has stopped.
struct ProcessFiles {
    Reader& reader;
    // The opened process, which learns the thread found here for the recheck.
    platform::OpenedProcess& process;
    // 0: the process's own files.
    platform::Pid thread = 0;

    int directory() const { return process.directory.get(); }
    FileText read(const char* name) const { return reader.read_file_at(directory(), name); }
    // `name` of the thread that runs: the process's own while its first thread runs.
    FileText read_running(const char* name) const {
        if (thread == 0) return read(name);
        return reader.read_file_at(directory(), thread_file("task", thread, name).c_str());
    }
};

// What stat says of a process whose cmdline read empty.
struct EmptyCmdline {
    bool ended = false;
    bool kernel_thread = false;
    // env_end, shown to whoever may read the process's memory: 0 while an execve is laying
    // out the new arguments and environment (the kernel shows no cmdline until it is set), and
    // most likely a new value after every execve, as the stack is placed at random. 0 too when
    // not shown.
    std::uint64_t environment_end = 0;
    // The tool ran short while looking.
    int shortage = 0;
};

// A process whose threads are all exiting, or a zombie, has ended: it has no command line, and
// its row becomes not_found as any ended process's. A process whose first thread has stopped shows its
// memory (env_end among it) only through a thread that runs: that thread, found here (or
// asked first, when found before), is the one its command line is read through. Read only on
// the rare empty-cmdline path.
EmptyCmdline look_at(ProcessFiles& files) {
    const FileText stat = files.read("stat");
    if (means_gone(stat.error)) return {.ended = true};
    if (means_shortage(stat.error)) return {.shortage = stat.error};
    const std::optional<StatFields> fields =
        stat.error == 0 ? parse_stat(stat.text) : std::nullopt;
    if (!fields) return {};
    const LiveThread live = find_live_thread(files.reader, files.directory(), "task",
                                             files.process.pid, *fields, files.thread);
    EmptyCmdline look;
    look.ended = live.ended;
    look.shortage = live.shortage;
    look.kernel_thread = (fields->flags & kernel_thread) != 0;
    look.environment_end = live.tid != 0 ? live.stat.layout.env_end : 0;
    files.thread = live.tid == files.process.pid ? 0 : live.tid;
    files.process.live_thread = files.thread;
    return look;
}

// The waits between readings of an empty cmdline: doubled each time up to 10 ms, about 300 ms
// in all. An execve is over in well under a millisecond, but a process preempted in its middle
// on a loaded machine stays there for as long as the scheduler keeps it off a processor; only
// a process in that state, or one whose stat hides env_end from us, ever waits this long.
constexpr long first_pause_ns = 20'000;
constexpr long longest_pause_ns = 10'000'000;
constexpr long all_pauses_ns = 300'000'000;

// The cmdline of a process whose own cmdline read empty. One whose first thread has stopped
// shows it through a thread that runs. A process in the middle of execve, between taking its
// new memory and laying its arguments out there, shows an empty cmdline; a moment later it
// shows the new one, so it is read again until then. A process that emptied its own argument
// range, or a kernel thread, stays empty and is not waited for. An empty text when the process
// has ended; the errno when the tool ran short.
FileText cmdline_while_empty(ProcessFiles& files, bool& ended) {
    FileText cmdline;
    long paused = 0;
    for (long pause = first_pause_ns; paused < all_pauses_ns;
         paused += pause, pause = std::min(pause * 2, longest_pause_ns)) {
        const EmptyCmdline before = look_at(files);
        if (before.shortage != 0) return {{}, before.shortage};
        ended = before.ended;
        if (ended || before.kernel_thread) return {};
        if (before.environment_end == 0) {
            const timespec wait{0, pause};
            ::nanosleep(&wait, nullptr);
        }
        cmdline = files.read_running("cmdline");
        // The thread read through has ended since; another is looked for.
        if (means_gone(cmdline.error) && files.thread != 0) continue;
        ended = means_gone(cmdline.error);
        if (ended || cmdline.error != 0 || !cmdline.text.empty()) return cmdline;
        if (before.environment_end != 0) {
            // Empty for good, unless an execve came and went between the two looks.
            const EmptyCmdline after = look_at(files);
            if (after.shortage != 0) return {{}, after.shortage};
            ended = after.ended;
            if (ended || after.environment_end == before.environment_end) return {};
        }
    }
    return {};
}

// The length of the argument area of the task whose cmdline was read (`thread`, or the process
// itself when 0), from its stat; nullopt when stat hides it (a caller without ptrace access
// sees 0) or cannot be read. Read aside, as the cmdline's text is still in use.
std::optional<std::uint64_t> argument_area(const ProcessFiles& files, platform::Pid thread) {
    const FileText stat =
        thread == 0 ? files.reader.read_line_file_aside(files.directory(), "stat")
                    : files.reader.read_line_file_aside(files.directory(),
                                                        thread_file("task", thread, "stat").c_str());
    const std::optional<StatFields> fields =
        stat.error == 0 ? parse_stat(stat.text) : std::nullopt;
    if (!fields || fields->layout.arg_end <= fields->layout.arg_start) return std::nullopt;
    return fields->layout.arg_end - fields->layout.arg_start;
}

}  // namespace

}  // namespace procfs

namespace platform {

CommandLine command_line(Processes& processes, Handle handle) {
    using procfs::FileText;
    procfs::Reader& reader = processes.state().reader;
    procfs::ProcessFiles files{reader, *handle, handle->live_thread};
    FileText cmdline = files.read("cmdline");
    // The task whose cmdline the text is: the process's own, or a thread that runs.
    Pid read_through = 0;
    if (procfs::means_gone(cmdline.error)) return {};
    if (cmdline.error == 0 && cmdline.text.empty()) {
        bool ended = false;
        cmdline = procfs::cmdline_while_empty(files, ended);
        if (ended) return {};
        read_through = files.thread;
    }
    // A read that failed for lack of descriptors or memory says nothing of the process.
    if (procfs::means_shortage(cmdline.error)) return {CommandLine::Read::shortage, {}};

    // One process's empty or unreadable command line is its own row's error, never that of
    // the others.
    CommandLine line{CommandLine::Read::text, {}};
    if (cmdline.error == 0) {
        const std::optional<std::uint64_t> area =
            procfs::argument_area_decides(cmdline.text)
                ? procfs::argument_area(files, read_through)
                : std::nullopt;
        if (std::optional<std::string> text = procfs::command_line_from_cmdline(cmdline.text, area)) {
            line.text = std::move(*text);
        }
    }
    reader.release_long_file();
    return line;
}

}  // namespace platform
