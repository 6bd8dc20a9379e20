// The process calls of the platform layer, answered from /proc/<pid> through the directory an
// opened process holds. First the Processes a run or a session owns, then the calls in the
// order a probe makes them: open, liveness, times, memory, the program noted and its
// executable, the recheck of that program, close; last the tool's own times and memory.

#include <cerrno>
#include <charconv>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "platform/platform.hpp"
#include "platform/procfs/descriptor.hpp"
#include "platform/procfs/kept_processes.hpp"
#include "platform/procfs/other_threads.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/processes_state.hpp"
#include "platform/procfs/system_clock_facts.hpp"

namespace procfs {
namespace {

// Idle times count in whole seconds, so the coarse clock (a tick behind at most) serves: it
// costs a tenth of a full reading, and a session reads it twice for every process it reads.
platform::Instant coarse_now() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return {static_cast<std::uint64_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_nsec)};
}

// Read through the descriptor the session holds, from its start.
bool proc_hides_processes(Reader& reader, const Descriptor& mounts) {
    const FileText text = mounts.is_open() ? reader.reread_file(mounts.get()) : FileText{{}, EBADF};
    // Unknown: as if it hid them, so that nothing is kept that the one-shot could not read.
    return text.error != 0 || mounts_hide_processes(text.text);
}

// Closes every kept process and the kept files of those lent: their handles then read as the
// one-shot does.
bool let_go_of_kept_processes(void* kept) {
    return static_cast<KeptProcesses*>(kept)->let_go();
}

}  // namespace
}  // namespace procfs

namespace platform {

namespace {

// Keeps nothing while /proc hides processes: a kept file would skip the check, made at each
// open, that hides a process whose owner has changed since it was first read.
void keep_unless_hidden(Processes::State& state) {
    const bool hidden = procfs::proc_hides_processes(state.reader, state.mounts);
    if (hidden) {
        state.reader.set_shortage_relief(nullptr, nullptr);
        state.kept.reset();
    } else if (!state.kept && state.most_kept != 0) {
        state.kept = std::make_unique<procfs::KeptProcesses>(state.most_kept,
                                                             procfs::KeptProcesses::idle_seconds);
        state.reader.set_shortage_relief(procfs::let_go_of_kept_processes, state.kept.get());
    }
}

}  // namespace

Processes::Processes(Keeping keeping) : state_(std::make_unique<State>()) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    state_->descriptor_limit = limit.rlim_cur;
    if (keeping != Keeping::between_requests) return;
    state_->most_kept = procfs::kept_under_limit(limit.rlim_cur);
    if (state_->most_kept == 0) return;
    state_->mounts =
        procfs::Descriptor{::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)};
    keep_unless_hidden(*state_);
}

Processes::~Processes() = default;

// One poll of the held mount table: whether any mount changed since the last look. Only then
// is the table read again.
void begin_request(Processes& processes) {
    Processes::State& state = processes.state();
    if (state.most_kept == 0) return;
    pollfd changed{state.mounts.get(), POLLPRI, 0};
    if (!state.mounts.is_open() || (::poll(&changed, 1, 0) == 1 && changed.revents != 0)) {
        keep_unless_hidden(state);
    }
}

bool forget_idle_processes(Processes& processes) {
    procfs::KeptProcesses* const kept = processes.state().kept.get();
    if (kept == nullptr) return false;
    kept->forget_idle(procfs::coarse_now());
    return kept->size() != 0;
}

}  // namespace platform

namespace procfs {
namespace {

using platform::OpenedProcess;
using State = platform::Processes::State;

// Whether /proc is a proc filesystem at all (a tmpfs may be mounted over it, so that every
// process directory seems missing). If even that cannot be asked, /proc cannot be trusted to
// say that a process is missing.
bool proc_is_procfs(State& state) {
    if (!state.proc_is_procfs) {
        struct statfs facts{};
        state.proc_is_procfs = ::statfs("/proc", &facts) == 0 && facts.f_type == PROC_SUPER_MAGIC;
    }
    return *state.proc_is_procfs;
}

Leadership leadership(State& state, platform::Pid pid) {
    if (!state.signal_checks_usable) state.signal_checks_usable = signal_checks_answer_as_proc_would();
    if (!*state.signal_checks_usable) return Leadership::unknown;
    return leadership_by_signal_check(pid);
}

platform::OpenFailure open_failure_from_errno(int error) {
    if (means_gone(error)) return platform::OpenFailure::no_such_process;
    switch (error) {
    case EACCES:
    case EPERM:
        return platform::OpenFailure::denied;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return platform::OpenFailure::out_of_descriptors;
    default:
        return platform::OpenFailure::other;
    }
}

platform::Opened failed(platform::OpenFailure failure) {
    return {nullptr, failure};
}

// The stat of the process through the files kept for it in a session, or read afresh; the
// errno on failure, EINVAL when the text is malformed.
int read_stat(State& state, OpenedProcess& process, StatExtent extent, StatFields& stat) {
    const int kept = state.kept ? state.kept->stat_file(process.pid, &process) : -1;
    const FileText file = kept >= 0 ? state.reader.reread_line_file(kept)
                                    : state.reader.read_line_file_at(process.directory.get(), "stat");
    if (file.error != 0) return file.error;
    const auto parsed = parse_stat(file.text, extent);
    if (!parsed) return EINVAL;
    stat = *parsed;
    return 0;
}

FileText read_status(State& state, OpenedProcess& process) {
    const int kept = state.kept ? state.kept->status_file(process.pid, &process) : -1;
    if (kept >= 0) return state.reader.reread_file(kept);
    return state.reader.read_file_at(process.directory.get(), "status");
}

// A process a session kept from an earlier request, lent to a new handle; nullptr when nothing
// is kept for it or what was kept no longer reads (it is opened afresh), `reaped` then telling
// whether that was because the process was reaped.
OpenedProcess* open_kept(State& state, platform::Pid pid, bool& reaped) {
    if (!state.kept) return nullptr;
    state.kept->forget_idle(coarse_now());
    if (!state.kept->keeps(pid)) return nullptr;
    auto process = std::make_unique<OpenedProcess>();
    process->pid = pid;
    const auto lent = state.kept->lend(state.reader, pid, process.get(), &reaped);
    if (!lent) return nullptr;
    process->directory = Descriptor{lent->directory};
    process->unread_stat = lent->stat;
    return process.release();
}

// Opens /proc/<pid> and reads stat through it. The read proves the process readable now, so
// that running out of descriptors fails here ("cannot open") rather than as a later read.
platform::Opened open_afresh(State& state, platform::Pid pid) {
    using platform::OpenFailure;
    char path[32] = "/proc/";
    const auto digits = std::to_chars(path + 6, path + sizeof(path) - 1, pid);
    *digits.ptr = '\0';
    int directory = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // What a session keeps gives way to a reading that runs short of descriptors.
    if (directory < 0 && state.reader.relieved(errno)) {
        directory = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (directory < 0) {
        const int error = errno;
        // hidepid=2 takes other users' processes out of /proc: a process there that exists
        // is one we may not open, not a missing one.
        if (error == ENOENT && procfs::leadership(state, pid) == procfs::Leadership::leader) {
            return procfs::failed(OpenFailure::denied);
        }
        return procfs::failed(procfs::open_failure_from_errno(error));
    }
    auto process = std::make_unique<OpenedProcess>();
    process->pid = pid;
    process->directory = procfs::Descriptor{directory};

    // /proc/<tid> answers for every thread; only a thread-group leader is a process.
    switch (procfs::leadership(state, pid)) {
    case procfs::Leadership::leader:
        break;
    case procfs::Leadership::not_leader:
        return procfs::failed(OpenFailure::no_such_process);
    case procfs::Leadership::unknown: {
        const auto file = state.reader.read_file_at(directory, "status");
        if (file.error != 0) return procfs::failed(procfs::open_failure_from_errno(file.error));
        process->status = procfs::parse_status(file.text);
        if (!process->status->thread_group) return procfs::failed(OpenFailure::other);
        if (*process->status->thread_group != pid) {
            return procfs::failed(OpenFailure::no_such_process);
        }
        break;
    }
    }

    procfs::StatFields stat;
    const int stat_error = procfs::read_stat(state, *process, procfs::StatExtent::counts, stat);
    // Malformed text is left to the first query, which reads again and reports it.
    if (stat_error != 0 && stat_error != EINVAL) {
        return procfs::failed(procfs::open_failure_from_errno(stat_error));
    }
    if (stat_error == 0) process->unread_stat = stat;
    return {process.release(), OpenFailure::none};
}

}  // namespace
}  // namespace procfs

namespace platform {

using State = Processes::State;

Opened open_process(Processes& processes, Pid pid) {
    State& state = processes.state();
    // No process can be looked at, but a missing directory there says nothing of whether the
    // process exists.
    if (!procfs::proc_is_procfs(state)) return procfs::failed(OpenFailure::other);
    bool reaped = false;
    if (OpenedProcess* kept = procfs::open_kept(state, pid, reaped)) {
        return {kept, OpenFailure::none};
    }
    Opened opened = procfs::open_afresh(state, pid);
    opened.earlier_process_gone = reaped;
    return opened;
}

std::optional<Liveness> liveness(Processes& processes, Handle handle) {
    State& state = processes.state();
    OpenedProcess& process = *handle;
    process.latest_stat.reset();
    procfs::StatFields stat;
    if (process.unread_stat) {
        stat = *std::exchange(process.unread_stat, std::nullopt);
    } else if (const int error = procfs::read_stat(state, process, procfs::StatExtent::counts,
                                                   stat);
               error != 0) {
        // A reaped process leaves its directory behind, but nothing can be read through it.
        if (procfs::means_gone(error)) return Liveness::exited;
        return std::nullopt;
    }
    process.kernel_thread = (stat.flags & procfs::kernel_thread) != 0;
    const procfs::LiveThread live = procfs::find_live_thread(
        state.reader, process.directory.get(), "task", process.pid, stat, process.live_thread);
    // Whether the process runs is unknown: the tool ran short while reading its threads.
    if (live.shortage != 0) return std::nullopt;
    process.live_thread = live.tid == process.pid ? 0 : live.tid;
    if (live.ended) return Liveness::exited;
    process.latest_stat = stat;
    return Liveness::running;
}

namespace {

// The counts of the stat the liveness query left, or of a fresh one.
std::optional<procfs::StatFields> take_stat(State& state, OpenedProcess& process) {
    if (process.latest_stat) return std::exchange(process.latest_stat, std::nullopt);
    procfs::StatFields stat;
    if (procfs::read_stat(state, process, procfs::StatExtent::counts, stat) != 0) {
        return std::nullopt;
    }
    return stat;
}

void cpu_times_of(State& state, const procfs::StatFields& stat, FileTime& kernel,
                  FileTime& user) {
    const auto rate = state.clock.ticks_per_second();
    kernel = procfs::to_file_time(procfs::ticks_to_units(stat.system_ticks, rate));
    user = procfs::to_file_time(procfs::ticks_to_units(stat.user_ticks, rate));
}

}  // namespace

bool process_times(Processes& processes, Handle handle, FileTime& creation, FileTime& kernel,
                   FileTime& user) {
    State& state = processes.state();
    const auto stat = take_stat(state, *handle);
    if (!stat) return false;
    const auto created = state.clock.task_creation_units(state.reader, stat->start_ticks);
    if (!created) return false;
    creation = procfs::to_file_time(*created);
    cpu_times_of(state, *stat, kernel, user);
    return true;
}

bool process_cpu_times(Processes& processes, Handle handle, FileTime& kernel, FileTime& user) {
    State& state = processes.state();
    const auto stat = take_stat(state, *handle);
    if (!stat) return false;
    cpu_times_of(state, *stat, kernel, user);
    return true;
}

namespace {

// Reads `file` of the thread the process reads through with `read`, which gives 0 or the
// errno. When that thread has ended since it was found, or none was known (the leader ran when
// its liveness was read, and may have stopped since), another is looked for, once; the
// leader's stat decides whether there is any to look for.
template <typename Read>
int read_through_live_thread(State& state, OpenedProcess& process, const char* file, Read read) {
    const int directory = process.directory.get();
    int error = ENOENT;
    if (process.live_thread != 0) {
        error = read(directory, procfs::thread_file("task", process.live_thread, file));
        if (!procfs::means_gone(error)) return error;
    }
    const auto leader = state.reader.read_line_file_at(directory, "stat");
    const auto stat = leader.error == 0 ? procfs::parse_stat(leader.text) : std::nullopt;
    if (!stat) return leader.error != 0 ? leader.error : error;
    const procfs::LiveThread live = procfs::find_live_thread(
        state.reader, directory, "task", process.pid, *stat, process.live_thread);
    if (live.shortage != 0) return live.shortage;
    if (live.tid == 0 || live.tid == process.pid) return error;
    process.live_thread = live.tid;
    return read(directory, procfs::thread_file("task", live.tid, file));
}

}  // namespace

bool process_memory(Processes& processes, Handle handle, MemoryCounters& counters) {
    State& state = processes.state();
    OpenedProcess& process = *handle;
    if (!process.status) {
        // Gone: the process ended while it was read, and there is nothing to read.
        const auto file = procfs::read_status(state, process);
        if (file.error != 0) return false;
        process.status = procfs::parse_status(file.text);
    }
    procfs::StatusFields memory = *process.status;
    // No memory of its own: a kernel thread has none to show; a process whose leader has
    // stopped (perhaps since its liveness was read) shows it only through a thread that runs.
    // With no such thread left the process has ended, and zeros would be no reading.
    if (!memory.has_memory && !process.kernel_thread) {
        const int error = read_through_live_thread(
            state, process, "status", [&](int directory, const std::string& path) {
                const auto file = state.reader.read_file_at(directory, path.c_str());
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

namespace {

// A file of the task the process's memory shows through: its own while its leader runs, else
// the thread found running.
std::string task_file(const OpenedProcess& process, const char* name) {
    return process.live_thread == 0 ? std::string{name}
                                    : procfs::thread_file("task", process.live_thread, name);
}

procfs::ProgramLayout program_layout(State& state, const OpenedProcess& process) {
    const std::string stat = task_file(process, "stat");
    const auto file = state.reader.read_line_file_at(process.directory.get(), stat.c_str());
    const auto fields = file.error == 0 ? procfs::parse_stat(file.text) : std::nullopt;
    if (!fields) return {};
    return {fields->layout.start_code, fields->layout.end_code, fields->layout.start_stack};
}

constexpr std::uint64_t hidden_address = 1;

// Both looks saw the layout, and it differs.
bool laid_out_anew(const procfs::ProgramLayout& first, const procfs::ProgramLayout& later) {
    return first.start_code != hidden_address && later.start_code != hidden_address &&
           (first.start_code != later.start_code || first.end_code != later.end_code ||
            first.start_stack != later.start_stack);
}

}  // namespace

// The program as it is now: its memory held open as a witness, its executable file, and its
// layout when no witness is held (descriptors run short).
void note_program(Processes& processes, Handle handle) {
    State& state = processes.state();
    OpenedProcess& process = *handle;
    procfs::NotedProgram noted;
    const std::string pagemap = task_file(process, "pagemap");
    noted.memory =
        procfs::Descriptor{procfs::open_memory_witness(process.directory.get(), pagemap.c_str())};
    if (noted.memory.is_open() &&
        static_cast<rlim_t>(noted.memory.get()) >= state.descriptor_limit / 2) {
        noted.memory.close();
    }
    if (!noted.memory.is_open()) noted.layout = program_layout(state, process);
    noted.executable =
        procfs::executable_identity(process.directory.get(), task_file(process, "exe").c_str());
    process.noted = std::move(noted);
}

// A later look compares with the noted one. A witness whose memory is gone tells an execve if
// the process has memory now, or if its memory may no longer be read (a program that took
// privileges). One that ended (perhaps since its liveness was read) has none, and is no other
// program, nor is one whose witness had none from the start (its leader had stopped).
bool runs_noted_program(Processes& processes, Handle handle) {
    State& state = processes.state();
    OpenedProcess& process = *handle;
    if (!process.noted) return true;
    const procfs::NotedProgram& noted = *process.noted;
    const int directory = process.directory.get();
    if (noted.memory.is_open()) {
        if (!procfs::memory_lives(noted.memory.get())) {
            const procfs::Descriptor current{procfs::open_memory_witness(directory, "pagemap")};
            if (!current.is_open() && (errno == EACCES || errno == EPERM)) return false;
            if (current.is_open() && procfs::memory_lives(current.get())) return false;
        }
    } else if (laid_out_anew(noted.layout, program_layout(state, process))) {
        return false;
    }
    if (noted.executable) {
        const auto now = procfs::executable_identity(directory, task_file(process, "exe").c_str());
        if (now && *now != *noted.executable) return false;
    }
    return true;
}

std::optional<std::string> executable_path(Processes& processes, Handle handle) {
    State& state = processes.state();
    OpenedProcess& process = *handle;
    errno = 0;
    if (auto path = procfs::read_executable_path(process.directory.get(), "exe")) return path;
    // A refusal (another user's process) is the answer, with no thread walked. A link that is
    // gone (ENOENT) says the leader has let go of its memory: it has stopped, perhaps since its
    // liveness was read, and another thread that runs still shows the executable.
    if (process.live_thread == 0 && errno != ENOENT) return std::nullopt;
    std::optional<std::string> path;
    const int error = read_through_live_thread(
        state, process, "exe", [&](int directory, const std::string& link) {
            errno = 0;
            path = procfs::read_executable_path(directory, link.c_str());
            if (path) return 0;
            return errno != 0 ? errno : ENAMETOOLONG;
        });
    if (error != 0) return std::nullopt;
    return path;
}

void close_process(Processes& processes, Handle handle) {
    if (handle == nullptr) return;
    std::unique_ptr<OpenedProcess> process{handle};
    State& state = processes.state();
    // The witness goes first: a kept process holds its directory and files only.
    process->noted.reset();
    if (!state.kept) return;  // the directory closes with the process
    state.kept->hand_back(process->pid, process.get(), process->directory.release(),
                          procfs::coarse_now());
}

// ---- The tool's own process: always read afresh (the diagnostics read it once, at the end of
// a request)

namespace {

std::uint64_t timeval_units(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * procfs::units_per_second +
           static_cast<std::uint64_t>(time.tv_usec) * 10;
}

}  // namespace

bool own_cpu_times(FileTime& kernel, FileTime& user) {
    // getrusage counts in microseconds, far finer than the clock ticks of /proc/self/stat,
    // which matters for a run that lasts a few milliseconds; and it needs no /proc at all.
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return false;
    kernel = procfs::to_file_time(timeval_units(usage.ru_stime));
    user = procfs::to_file_time(timeval_units(usage.ru_utime));
    return true;
}

bool own_memory(MemoryCounters& counters) {
    procfs::Reader reader;
    const auto file = reader.read_file_at(AT_FDCWD, "/proc/self/status");
    if (file.error != 0) return false;
    const auto status = procfs::parse_status(file.text);
    counters.working_set = status.resident_bytes;
    counters.peak_working_set = status.peak_resident_bytes;
    return true;
}

}  // namespace platform
