// The process calls of the platform layer, answered from /proc/<pid> through a held
// directory. First what a handle points to (the open directory and what was read through it,
// or the tool's own process, never opened), then the calls in the order a probe makes them:
// open, exit code, times, memory, executable path, whether the image is the same, close.

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/platform.hpp"
#include "platform/procfs/descriptor.hpp"
#include "platform/procfs/held_directories.hpp"
#include "platform/procfs/kept_processes.hpp"
#include "platform/procfs/other_threads.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/system_clock_facts.hpp"

namespace procfs {
namespace {

// ---- What a process handle points to: the open /proc/<pid> directory and what was read
// through it

// Where a program lies, as one stat line shows it: read already (from a thread's stat), or
// kept as the line itself and read only when asked. Only inspect's looks at the program ask,
// so a sample reads a stat no further than its counts, a third of the line.
struct LayoutSource {
    std::optional<ImageLayout> read;
    std::string line;  // the stat line to read it from, when not read

    ImageLayout layout() const {
        if (read) return *read;
        // The line gave its counts already, so it parses; the layout's own fields may be
        // missing (an older kernel's line) and then read 0.
        const auto stat = parse_stat(line, StatExtent::layout);
        return stat ? stat->layout : ImageLayout{};
    }
};

// What the times query reports from the stat the exit-code query read: three counts of the
// process's own, and where its program lies as the thread that runs shows it.
struct StatTicks {
    std::uint64_t user_ticks = 0;
    std::uint64_t system_ticks = 0;
    std::uint64_t start_ticks = 0;
    LayoutSource layout;
};

// Where the program lies, as one look saw it: its code and where its first stack begins, laid
// anew by every execve (all 0 in its middle, before the new program is laid out) and left in
// place by a rename, which moves only the arguments. Field 26 reads 1 to a caller that may not
// trace the process: the layout is then unknown, and never counts as changed.
struct ProgramLayout {
    std::uint64_t start_code = 0;
    std::uint64_t end_code = 0;
    std::uint64_t start_stack = 0;
};

ProgramLayout program_layout(const LayoutSource& source) {
    const ImageLayout layout = source.layout();
    return {layout.start_code, layout.end_code, layout.start_stack};
}

constexpr std::uint64_t hidden_address = 1;

// Both looks saw the layout, and it differs.
bool laid_out_anew(const ProgramLayout& first, const ProgramLayout& later) {
    return first.start_code != hidden_address && later.start_code != hidden_address &&
           (first.start_code != later.start_code || first.end_code != later.end_code ||
            first.start_stack != later.start_stack);
}

// A witness is kept only while its descriptor lies in the lower half of the descriptors the
// tool may open, so that the processes asked after it keep room for their own directories;
// beyond that, the layout alone tells.
bool room_for_witness(int witness) {
    static const rlim_t limit = [] {
        rlimit descriptors{};
        return ::getrlimit(RLIMIT_NOFILE, &descriptors) == 0 ? descriptors.rlim_cur : 0;
    }();
    return static_cast<rlim_t>(witness) < limit / 2;
}

struct ProcessEntry {
    platform::Pid pid = 0;
    // /proc/<pid>, opened once; every read goes through it, so a recycled PID is never read.
    // While the leader has stopped, its memory and executable are read through the thread the
    // latest exit-code query found running; the command-line query reads through it too.
    HeldDirectory held;
    // Read by the first memory query (or at open, when the leadership had to be read from it);
    // only sample asks for memory, so inspect never pays for this dear file.
    std::optional<StatusFields> status;
    // The text of the stat the open or the latest fresh reading read, whose layout the times
    // query may report.
    std::string stat_line;
    // From the stat the latest exit-code query read, for the times query that follows it, so
    // one probe reads stat once while a later recheck still sees fresh state.
    std::optional<StatTicks> ticks;
    // A kernel thread, as the latest exit-code query saw it: it has no memory to show.
    bool kernel_thread = false;
    // The layout of the latest stat the times queries read.
    LayoutSource latest_layout;
    // The program as the first look (taken by the path query, just before it reads the link)
    // saw it: its layout, and its memory held open as a witness (or not). A later full times
    // query (the recheck's, after the command line was read) that finds the program laid out
    // anew, or the witness's memory gone while the process has memory, finds another program.
    // Only inspect reads a path, so sample, a session's included, never pays for a look.
    ProgramLayout first_layout;
    Descriptor first_memory;
    bool first_look_taken = false;
    bool program_changed = false;
};

// The stat that opening a process read (so that a shortage of descriptors fails the open, not a
// later read): the first exit-code query on that handle, which comes next, answers from it
// instead of reading it again. Kept once, for the handle opened last, not in every entry.
struct StatFromOpen {
    const ProcessEntry* entry = nullptr;
    StatFields stat;
};
StatFromOpen stat_from_open;

// ---- The tool's own process: a handle that is never opened nor freed, and whose readings are
// always taken afresh (the diagnostics read them once, at the end of the run)

// Only its address matters: it tells the tool's own process from every opened one.
char own_process_marker;

std::uint64_t timeval_units(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * units_per_second +
           static_cast<std::uint64_t>(time.tv_usec) * 10;
}

platform::Handle own_process_handle() {
    return &own_process_marker;
}

bool is_own_process(platform::Handle handle) {
    return handle == &own_process_marker;
}

bool own_process_cpu_times(platform::FileTime& kernel, platform::FileTime& user) {
    // getrusage counts in microseconds, far finer than the clock ticks of /proc/self/stat,
    // which matters for a run that lasts a few milliseconds; and it needs no /proc at all.
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        return false;
    }
    kernel = to_file_time(timeval_units(usage.ru_stime));
    user = to_file_time(timeval_units(usage.ru_utime));
    return true;
}

bool own_process_times(platform::FileTime& creation, platform::FileTime& exit,
                       platform::FileTime& kernel, platform::FileTime& user) {
    const auto file = read_file_at(AT_FDCWD, "/proc/self/stat");
    if (file.error != 0) {
        return false;
    }
    const auto stat = parse_stat(file.text);
    const auto created = stat ? task_creation_units(stat->start_ticks) : std::nullopt;
    if (!created || !own_process_cpu_times(kernel, user)) {
        return false;
    }
    creation = to_file_time(*created);
    exit = platform::FileTime{};
    return true;
}

bool own_process_memory(platform::MemoryCounters& counters) {
    const auto file = read_file_at(AT_FDCWD, "/proc/self/status");
    if (file.error != 0) {
        return false;
    }
    const auto status = parse_status(file.text);
    counters.working_set = status.resident_bytes;
    counters.peak_working_set = status.peak_resident_bytes;
    return true;
}

}  // namespace
}  // namespace procfs

namespace platform {
namespace {

// The Win32 codes the probe logic can meet; only error_invalid_parameter has a meaning to it.
constexpr std::uint32_t error_too_many_open_files = 4;
constexpr std::uint32_t error_access_denied = 5;
constexpr std::uint32_t error_not_enough_memory = 8;
constexpr std::uint32_t error_gen_failure = 31;

// Not running: any code but still_active.
constexpr std::uint32_t exited_code = 0;

std::uint32_t last_open_error = 0;

std::uint32_t open_error_from_errno(int error) {
    if (procfs::means_gone(error)) {
        return error_invalid_parameter;
    }
    switch (error) {
    case EACCES:
    case EPERM:
        return error_access_denied;
    case EMFILE:
    case ENFILE:
        return error_too_many_open_files;
    case ENOMEM:
        return error_not_enough_memory;
    default:
        return error_gen_failure;
    }
}

Handle fail_open(std::uint32_t error) {
    last_open_error = error;
    return nullptr;
}

procfs::ProcessEntry& entry_of(Handle handle) {
    return *static_cast<procfs::ProcessEntry*>(handle);
}

// The stat the open read for this entry, or a fresh reading; the errno on failure, EINVAL when
// the text is malformed.
int read_stat(procfs::ProcessEntry& entry, procfs::StatFields& stat) {
    if (procfs::stat_from_open.entry == &entry) {
        procfs::stat_from_open.entry = nullptr;
        stat = procfs::stat_from_open.stat;
        return 0;
    }
    const auto file = procfs::read_stat_file(entry.held.directory, entry.pid, &entry);
    if (file.error != 0) {
        return file.error;
    }
    const auto parsed = procfs::parse_stat(file.text, procfs::StatExtent::counts);
    if (!parsed) return EINVAL;
    stat = *parsed;
    entry.stat_line.assign(file.text);
    return 0;
}

}  // namespace

// Opens /proc/<pid> and reads stat through it. The read proves the process readable now, so
// that running out of descriptors fails here ("cannot open") rather than as a later read.
Handle open_process(std::uint32_t /*access*/, bool /*inherit*/, Pid pid) {
    // No process can be looked at, but a missing directory there says nothing of whether the
    // process exists.
    if (!procfs::proc_is_procfs()) {
        return fail_open(error_gen_failure);
    }
    // A session reads a process it kept from an earlier request through what it kept.
    if (procfs::keeps(pid)) {
        std::unique_ptr<procfs::ProcessEntry> entry{new procfs::ProcessEntry{}};
        entry->pid = pid;
        if (const auto kept = procfs::lend_kept_process(pid, entry.get())) {
            entry->held.directory = kept->directory;
            entry->stat_line.assign(kept->stat_text);
            procfs::stat_from_open = {entry.get(), kept->stat};
            procfs::hold_directory(pid, &entry->held);
            return entry.release();
        }
    }
    char path[32] = "/proc/";
    const auto digits = std::to_chars(path + 6, path + sizeof(path) - 1, pid);
    *digits.ptr = '\0';

    int directory = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // What a session keeps gives way to a reading that runs short of descriptors.
    if (directory < 0 && procfs::relieved(errno)) {
        directory = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (directory < 0) {
        const int error = errno;
        // hidepid=2 takes other users' processes out of /proc: a process there that exists
        // is one we may not open, not a missing one.
        if (error == ENOENT &&
            procfs::leadership_by_signal_check(pid) == procfs::Leadership::leader) {
            return fail_open(error_access_denied);
        }
        return fail_open(open_error_from_errno(error));
    }
    const auto refuse = [&](std::uint32_t error) {
        ::close(directory);
        return fail_open(error);
    };
    std::unique_ptr<procfs::ProcessEntry> entry{new procfs::ProcessEntry{}};
    entry->pid = pid;
    entry->held.directory = directory;

    // /proc/<tid> answers for every thread; only a thread-group leader is a process.
    switch (procfs::leadership_by_signal_check(pid)) {
    case procfs::Leadership::leader:
        break;
    case procfs::Leadership::not_leader:
        return refuse(error_invalid_parameter);
    case procfs::Leadership::unknown: {
        const auto file = procfs::read_file_at(directory, "status");
        if (file.error != 0) {
            return refuse(open_error_from_errno(file.error));
        }
        entry->status = procfs::parse_status(file.text);
        if (!entry->status->thread_group) {
            return refuse(error_gen_failure);
        }
        if (*entry->status->thread_group != pid) {
            return refuse(error_invalid_parameter);
        }
        break;
    }
    }

    const auto file = procfs::read_stat_file(directory, pid, entry.get());
    if (file.error != 0) {
        return refuse(open_error_from_errno(file.error));
    }
    // Malformed text is left to the first query, which reads again and reports it.
    if (const auto stat = procfs::parse_stat(file.text, procfs::StatExtent::counts)) {
        entry->stat_line.assign(file.text);
        procfs::stat_from_open = {entry.get(), *stat};
    }
    procfs::hold_directory(pid, &entry->held);
    return entry.release();
}

std::uint32_t last_error() {
    return last_open_error;
}

bool exit_code_process(Handle handle, std::uint32_t& exit_code) {
    if (procfs::is_own_process(handle)) {
        exit_code = still_active;
        return true;
    }
    auto& entry = entry_of(handle);
    entry.ticks.reset();
    procfs::StatFields stat;
    const int error = read_stat(entry, stat);
    if (error != 0) {
        // A reaped process leaves its directory behind, but nothing can be read through it.
        if (!procfs::means_gone(error)) {
            return false;
        }
        exit_code = exited_code;
        return true;
    }
    entry.kernel_thread = (stat.flags & procfs::kernel_thread) != 0;
    const procfs::LiveThread live = procfs::find_live_thread(
        entry.held.directory, "task", entry.pid, stat, entry.held.live_thread);
    // Whether the process runs is unknown: the tool ran short while reading its threads.
    if (live.shortage != 0) return false;
    exit_code = live.ended ? exited_code : still_active;
    entry.held.live_thread = live.tid == entry.pid ? 0 : live.tid;
    // The leader runs: the layout is its own stat's, read only if asked. Otherwise it is that
    // of the thread found running, or none.
    procfs::LayoutSource layout;
    if (live.tid == entry.pid) {
        layout.line = std::move(entry.stat_line);
    } else {
        layout.read = live.stat.layout;
    }
    entry.ticks = procfs::StatTicks{stat.user_ticks, stat.system_ticks, stat.start_ticks,
                                    std::move(layout)};
    return true;
}

namespace {

// The ticks of the stat that the exit-code query left, or of a fresh one; CPU times from them.
std::optional<procfs::StatTicks> take_times(Handle handle, FileTime& kernel, FileTime& user) {
    auto& entry = entry_of(handle);
    std::optional<procfs::StatTicks> ticks = std::move(entry.ticks);
    entry.ticks.reset();
    if (!ticks) {
        procfs::StatFields stat;
        if (read_stat(entry, stat) != 0) return std::nullopt;
        ticks = procfs::StatTicks{stat.user_ticks, stat.system_ticks, stat.start_ticks,
                                  procfs::LayoutSource{std::nullopt, std::move(entry.stat_line)}};
    }
    entry.latest_layout = std::move(ticks->layout);
    const auto rate = procfs::clock_ticks_per_second();
    kernel = procfs::to_file_time(procfs::ticks_to_units(ticks->system_ticks, rate));
    user = procfs::to_file_time(procfs::ticks_to_units(ticks->user_ticks, rate));
    return ticks;
}

// The first look at the program, taken once, before the path is read: the layout the latest
// times query saw, and the process's memory held open as a witness.
void take_first_look(procfs::ProcessEntry& entry) {
    if (entry.first_look_taken) return;
    entry.first_look_taken = true;
    entry.first_layout = program_layout(entry.latest_layout);
    // Through the thread that runs while the leader has stopped, as its stat's layout was read.
    const std::string pagemap =
        entry.held.live_thread == 0
            ? std::string{"pagemap"}
            : procfs::thread_file("task", entry.held.live_thread, "pagemap");
    entry.first_memory =
        procfs::Descriptor{procfs::open_memory_witness(entry.held.directory, pagemap.c_str())};
    if (entry.first_memory.is_open() && !procfs::room_for_witness(entry.first_memory.get())) {
        entry.first_memory.close();
    }
}

// A later look compares with the first. A witness whose memory is gone tells an execve only if
// the process has memory now: one that ended (perhaps since its exit code was read) has none,
// and is no other program, nor is one whose witness had none from the start (its leader
// stopped between its exit code and the first look).
void compare_with_first_look(procfs::ProcessEntry& entry) {
    if (!entry.first_look_taken) return;
    if (procfs::laid_out_anew(entry.first_layout, program_layout(entry.latest_layout))) {
        entry.program_changed = true;
    }
    if (entry.first_memory.is_open() && !procfs::memory_lives(entry.first_memory.get())) {
        const procfs::Descriptor current{
            procfs::open_memory_witness(entry.held.directory, "pagemap")};
        if (current.is_open() && procfs::memory_lives(current.get())) entry.program_changed = true;
    }
}

}  // namespace

bool process_times(Handle handle, FileTime& creation, FileTime& exit, FileTime& kernel,
                   FileTime& user) {
    if (procfs::is_own_process(handle)) {
        return procfs::own_process_times(creation, exit, kernel, user);
    }
    const auto stat = take_times(handle, kernel, user);
    if (!stat) {
        return false;
    }
    const auto created = procfs::task_creation_units(stat->start_ticks);
    if (!created) {
        return false;
    }
    creation = procfs::to_file_time(*created);
    exit = FileTime{};
    compare_with_first_look(entry_of(handle));
    return true;
}

bool process_cpu_times(Handle handle, FileTime& kernel, FileTime& user) {
    if (procfs::is_own_process(handle)) {
        return procfs::own_process_cpu_times(kernel, user);
    }
    return take_times(handle, kernel, user).has_value();
}

namespace {

// Reads `file` of the thread the entry reads through with `read`, which gives 0 or the errno.
// When that thread has ended since it was found, or none was known (the leader ran when its
// exit code was read, and may have stopped since), another is looked for, once; the leader's
// stat decides whether there is any to look for.
template <typename Read>
int read_through_live_thread(procfs::ProcessEntry& entry, const char* file, Read read) {
    const int directory = entry.held.directory;
    int error = ENOENT;
    if (entry.held.live_thread != 0) {
        error = read(directory, procfs::thread_file("task", entry.held.live_thread, file));
        if (!procfs::means_gone(error)) return error;
    }
    const auto leader = procfs::read_line_file_at(directory, "stat");
    const auto stat = leader.error == 0 ? procfs::parse_stat(leader.text) : std::nullopt;
    if (!stat) return leader.error != 0 ? leader.error : error;
    const procfs::LiveThread live =
        procfs::find_live_thread(directory, "task", entry.pid, *stat, entry.held.live_thread);
    if (live.shortage != 0) return live.shortage;
    if (live.tid == 0 || live.tid == entry.pid) return error;
    entry.held.live_thread = live.tid;
    return read(directory, procfs::thread_file("task", live.tid, file));
}

}  // namespace

bool process_memory_info(Handle handle, MemoryCounters& counters) {
    if (procfs::is_own_process(handle)) {
        return procfs::own_process_memory(counters);
    }
    auto& entry = entry_of(handle);
    if (!entry.status) {
        // Gone: the process ended while it was read, and there is nothing to read.
        const auto file = procfs::read_status_file(entry.held.directory, entry.pid, &entry);
        if (file.error != 0) return false;
        entry.status = procfs::parse_status(file.text);
    }
    procfs::StatusFields memory = *entry.status;
    // No memory of its own: a kernel thread has none to show; a process whose leader has
    // stopped (perhaps since its exit code was read) shows it only through a thread that runs.
    // With no such thread left the process has ended, and zeros would be no reading.
    if (!memory.has_memory && !entry.kernel_thread) {
        const int error = read_through_live_thread(
            entry, "status", [&](int directory, const std::string& path) {
                const auto file = procfs::read_file_at(directory, path.c_str());
                if (file.error != 0) return file.error;
                memory = procfs::parse_status(file.text);
                return memory.has_memory ? 0 : ENOENT;
            });
        if (error != 0) return false;
    }
    counters.working_set = memory.resident_bytes;
    counters.peak_working_set = memory.peak_resident_bytes;
    return true;
}

bool full_process_image_name(Handle handle, std::uint32_t /*flags*/, char16_t* buffer,
                             std::uint32_t& size) {
    if (procfs::is_own_process(handle)) {
        return procfs::read_image_name(AT_FDCWD, "/proc/self/exe", buffer, size);
    }
    auto& entry = entry_of(handle);
    take_first_look(entry);
    errno = 0;
    if (procfs::read_image_name(entry.held.directory, "exe", buffer, size)) return true;
    // A refusal (another user's process) is the answer, with no thread walked. A link that is
    // gone (ENOENT) says the leader has let go of its memory: it has stopped, perhaps since its
    // exit code was read, and another thread that runs still shows the executable.
    if (entry.held.live_thread == 0 && errno != ENOENT) return false;
    const std::uint32_t room = size;
    return read_through_live_thread(entry, "exe", [&](int directory, const std::string& path) {
        size = room;
        errno = 0;
        if (procfs::read_image_name(directory, path.c_str(), buffer, size)) return 0;
        return errno != 0 ? errno : ENAMETOOLONG;
    }) == 0;
}

bool image_unchanged(Handle handle) {
    return procfs::is_own_process(handle) || !entry_of(handle).program_changed;
}

void close_handle(Handle handle) {
    if (handle == nullptr || procfs::is_own_process(handle)) {
        return;
    }
    auto* entry = &entry_of(handle);
    if (procfs::stat_from_open.entry == entry) procfs::stat_from_open.entry = nullptr;
    procfs::release_directory(entry->pid, &entry->held);
    procfs::close_or_keep(entry->pid, entry, entry->held.directory);
    delete entry;
}

Handle current_process() {
    return procfs::own_process_handle();
}

}  // namespace platform
