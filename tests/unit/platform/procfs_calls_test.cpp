// The Linux backend's process calls against real processes: children in each state the probes
// must tell apart, a thread that is not a process, and a kernel thread.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/prctl.h>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/platform.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/system_clock_facts.hpp"
#include "support/descriptor_limit.hpp"
#include "support/linux_tasks.hpp"
#include "support/processor_time.hpp"
#include "unit/platform/opened_process.hpp"

namespace {

using platform::Handle;

using test_support::Child;
using test_support::liveness_of;
using test_support::Opened;
using test_support::processes;

platform::Pid pid_of(const Child& child) { return static_cast<platform::Pid>(child.pid()); }

std::uint64_t units(const platform::FileTime& time) {
    return (static_cast<std::uint64_t>(time.high) << 32) | time.low;
}

// When the kernel says the process started, as 100-ns ticks since 1601.
std::uint64_t kernel_start(pid_t pid) {
    const auto stat = test_support::stat_fields("/proc/" + std::to_string(pid) + "/stat");
    return stat.size() > 22 ? test_support::ticks_since_1601(test_support::boot_seconds(),
                                                             std::stoull(stat[22]))
                            : 0;
}

std::size_t open_descriptor_count() {
    std::size_t count = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) {
            ++count;
        }
    }
    return count;
}

// The number after `key` on its line of a status file, such as "VmRSS:", in bytes.
std::uint64_t status_bytes(const std::string& path, const std::string& key) {
    std::ifstream file{path};
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::strtoull(line.c_str() + key.size(), nullptr, 10) * 1024;
        }
    }
    return 0;
}

// What the kernel shows of a task's times and memory, read with nothing of the backend's.
struct KernelReading {
    std::uint64_t user_units = 0;    // utime of stat, as 100-ns units
    std::uint64_t system_units = 0;  // stime of stat, likewise
    std::uint64_t resident = 0;      // VmRSS of status, bytes
    std::uint64_t peak = 0;          // VmHWM of status, bytes

    bool operator==(const KernelReading&) const = default;
};

// `task` is "/proc/<pid>" or "/proc/<pid>/task/<tid>".
KernelReading kernel_reading(const std::string& task) {
    const auto stat = test_support::stat_fields(task + "/stat");
    const auto rate = static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
    KernelReading reading;
    if (stat.size() > 15) {
        reading.user_units = procfs::ticks_to_units(std::stoull(stat[14]), rate);
        reading.system_units = procfs::ticks_to_units(std::stoull(stat[15]), rate);
    }
    reading.resident = status_bytes(task + "/status", "VmRSS:");
    reading.peak = status_bytes(task + "/status", "VmHWM:");
    return reading;
}

// Grows by 32 MiB and gives that back: the peak stays well above what is resident.
void grow_and_shrink() {
    constexpr std::size_t grown = 32u << 20;
    void* block = ::mmap(nullptr, grown, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                         -1, 0);
    if (block == MAP_FAILED) return;
    for (std::size_t at = 0; at < grown; at += 4096) static_cast<volatile char*>(block)[at] = 1;
    ::munmap(block, grown);
}

// A child that has spent more processor time in user mode than in kernel mode and whose peak
// lies well above what is resident, and then waits: every figure of it stands still, and no
// two are alike.
class BusyChild {
public:
    BusyChild() {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            test_support::burn_processor_time(std::chrono::milliseconds{120},
                                              std::chrono::milliseconds{40});
            grow_and_shrink();
            (void)!::write(ready[1], "r", 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        if (::read(ready[0], &byte, 1) != 1) pid_ = -1;
        ::close(ready[0]);
    }
    ~BusyChild() { test_support::end_child(pid_); }
    BusyChild(const BusyChild&) = delete;
    BusyChild& operator=(const BusyChild&) = delete;
    platform::Pid pid() const { return static_cast<platform::Pid>(pid_); }
    std::string directory() const { return "/proc/" + std::to_string(pid_); }

private:
    pid_t pid_ = -1;
};

// Calls `call` between two readings of `task` by the kernel, until both readings agree, and
// gives that reading; nullopt when the figures never stood still.
template <typename Call>
std::optional<KernelReading> around(const std::string& task, Call call) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const KernelReading before = kernel_reading(task);
        call();
        if (kernel_reading(task) == before) return before;
    }
    return std::nullopt;
}

TEST(ProcfsCalls, LiveChildAnswersEveryCall) {
    const BusyChild child;
    ASSERT_GT(child.pid(), 0u);
    const auto descriptors_before = open_descriptor_count();
    {
        Opened process{child.pid()};
        ASSERT_NE(process.get(), nullptr);
        EXPECT_EQ(liveness_of(process.get()), platform::Liveness::running);

        platform::FileTime creation, kernel, user;
        bool read = false;
        const auto times = around(child.directory(), [&] {
            read = platform::process_times(processes(), process.get(), creation, kernel, user);
        });
        ASSERT_TRUE(times.has_value());
        ASSERT_TRUE(read);
        // So that a swap cannot pass: the two times differ, and so do the two sizes.
        ASSERT_NE(times->user_units, times->system_units);
        ASSERT_GE(times->peak, times->resident + (16u << 20));
        EXPECT_EQ(units(creation), kernel_start(static_cast<pid_t>(child.pid())));
        EXPECT_EQ(units(user), times->user_units);
        EXPECT_EQ(units(kernel), times->system_units);

        // The durations alone, as sample reads them.
        platform::FileTime cpu_kernel, cpu_user;
        const auto cpu = around(child.directory(), [&] {
            read = platform::process_cpu_times(processes(), process.get(), cpu_kernel, cpu_user);
        });
        ASSERT_TRUE(cpu.has_value());
        ASSERT_TRUE(read);
        EXPECT_EQ(units(cpu_user), cpu->user_units);
        EXPECT_EQ(units(cpu_kernel), cpu->system_units);

        platform::MemoryCounters memory;
        const auto sizes = around(child.directory(), [&] {
            read = platform::process_memory(processes(), process.get(), memory);
        });
        ASSERT_TRUE(sizes.has_value());
        ASSERT_TRUE(read);
        EXPECT_EQ(memory.working_set, sizes->resident);
        EXPECT_EQ(memory.peak_working_set, sizes->peak);

        // The child is a fork of this test program.
        const auto path = platform::executable_path(processes(), process.get());
        ASSERT_TRUE(path.has_value());
        EXPECT_EQ(*path, std::filesystem::read_symlink("/proc/self/exe").string());
    }
    EXPECT_EQ(open_descriptor_count(), descriptors_before);
}

// The tool's own times come from getrusage, its start and memory from /proc/self: each lies
// between two readings taken around the call.
TEST(ProcfsCalls, OwnProcessFiguresLieBetweenReadingsAroundTheCall) {
    test_support::burn_processor_time(std::chrono::milliseconds{30},
                                      std::chrono::milliseconds{10});
    const auto usage = [] {
        rusage used{};
        ::getrusage(RUSAGE_SELF, &used);
        return used;
    };
    const auto units_of = [](const timeval& t) {
        return static_cast<std::uint64_t>(t.tv_sec) * 10'000'000 +
               static_cast<std::uint64_t>(t.tv_usec) * 10;
    };
    platform::FileTime kernel, user;
    const rusage before = usage();
    ASSERT_TRUE(platform::own_cpu_times(kernel, user));
    const rusage after = usage();
    EXPECT_GE(units(user), units_of(before.ru_utime));
    EXPECT_LE(units(user), units_of(after.ru_utime));
    EXPECT_GE(units(kernel), units_of(before.ru_stime));
    EXPECT_LE(units(kernel), units_of(after.ru_stime));

    // The peak never falls, and the current size lies below it.
    const std::uint64_t peak_before = status_bytes("/proc/self/status", "VmHWM:");
    platform::MemoryCounters memory;
    ASSERT_TRUE(platform::own_memory(memory));
    const std::uint64_t peak_after = status_bytes("/proc/self/status", "VmHWM:");
    EXPECT_GE(memory.peak_working_set, peak_before);
    EXPECT_LE(memory.peak_working_set, peak_after);
    EXPECT_GT(memory.working_set, 0u);
    EXPECT_LE(memory.working_set, memory.peak_working_set);
}

TEST(ProcfsCalls, MissingAndNonProcessIdsAreNoSuchProcess) {
    std::vector<platform::Pid> ids;
    ids.push_back(4194304 + 7);  // beyond the kernel's largest PID
    ids.push_back(0x7fffffff);
    ids.push_back(0xffffffff);

    // A thread of this process: /proc/<tid> answers, but it is not a process.
    const test_support::ParkedThread thread;
    ids.push_back(static_cast<platform::Pid>(thread.tid()));

    for (const auto pid : ids) {
        SCOPED_TRACE(pid);
        Opened process{pid};
        EXPECT_EQ(process.get(), nullptr);
        EXPECT_EQ(process.failure(), platform::OpenFailure::no_such_process);
    }
}

TEST(ProcfsCalls, ZombieAndReapedChildrenHaveExited) {
    // A zombie can be opened, like a Windows process whose object is still held.
    Child zombie{Child::State::exited};
    Opened opened_zombie{pid_of(zombie)};
    ASSERT_NE(opened_zombie.get(), nullptr);
    EXPECT_NE(liveness_of(opened_zombie.get()), platform::Liveness::running);

    // Reaped while the handle is held: nothing can be read any more, and it reads as exited.
    Child reaped;
    Opened opened_reaped{pid_of(reaped)};
    ASSERT_NE(opened_reaped.get(), nullptr);
    EXPECT_EQ(liveness_of(opened_reaped.get()), platform::Liveness::running);
    reaped.end();
    EXPECT_NE(liveness_of(opened_reaped.get()), platform::Liveness::running);
    platform::FileTime creation, kernel, user;
    EXPECT_FALSE(platform::process_times(processes(), opened_reaped.get(), creation, kernel, user));
    // An ended process has no memory to read: a failed reading, which the probe then finds
    // ended, never zeros.
    platform::MemoryCounters memory;
    EXPECT_FALSE(platform::process_memory(processes(), opened_reaped.get(), memory));
    EXPECT_FALSE(platform::process_memory(processes(), opened_zombie.get(), memory));
}

// A child that executes /bin/sleep when asked; execute() returns once it has.
class ExecutingChild {
public:
    ExecutingChild() {
        int request[2];
        int executed[2];
        if (::pipe(request) != 0 || ::pipe2(executed, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            char byte;
            if (::read(request[0], &byte, 1) == 1) {
                ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
            }
            ::_exit(127);
        }
        ::close(request[0]);
        ::close(executed[1]);
        request_ = request[1];
        executed_ = executed[0];
    }
    ~ExecutingChild() {
        ::close(request_);
        ::close(executed_);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    ExecutingChild(const ExecutingChild&) = delete;
    ExecutingChild& operator=(const ExecutingChild&) = delete;

    platform::Pid pid() const { return static_cast<platform::Pid>(pid_); }
    // The end of the close-on-exec pipe reads 0 bytes once the child has executed.
    void execute() const {
        const char byte = 1;
        ASSERT_EQ(::write(request_, &byte, 1), 1);
        char ignored;
        ASSERT_EQ(::read(executed_, &ignored, 1), 0);
    }

private:
    pid_t pid_ = -1;
    int request_ = -1;
    int executed_ = -1;
};

// Looks at the process as the recheck does (and a session's sample): its exit code, then its
// full times. Gives the creation time.
std::uint64_t look_at(Handle handle) {
    EXPECT_EQ(liveness_of(handle), platform::Liveness::running);
    platform::FileTime creation, kernel, user;
    EXPECT_TRUE(platform::process_times(processes(), handle, creation, kernel, user));
    return units(creation);
}

// Looks at the process as the identity does: the look above, then the program noted and its
// executable's path read. Gives the creation time.
std::uint64_t identify(Handle handle) {
    const auto created = look_at(handle);
    platform::note_program(processes(), handle);
    EXPECT_TRUE(platform::executable_path(processes(), handle).has_value());
    return created;
}

std::size_t open_descriptors() {
    const std::filesystem::directory_iterator descriptors{"/proc/self/fd"};
    return static_cast<std::size_t>(std::distance(begin(descriptors), end(descriptors)));
}

// Only noting the program holds its memory: times queries alone (a session's samples) hold
// nothing more open than the process's directory.
TEST(ProcfsCalls, OnlyNotingTheProgramHoldsItsMemory) {
    Child child;
    const std::size_t before = open_descriptors();
    Opened process{pid_of(child)};
    ASSERT_NE(process.get(), nullptr);
    look_at(process.get());
    look_at(process.get());
    EXPECT_EQ(open_descriptors(), before + 1) << "the directory alone";
    identify(process.get());
    EXPECT_EQ(open_descriptors(), before + 2) << "the directory and the program's memory";
}

// Executing another program keeps the ID and the start time; what the program noted before
// tells, whenever the check is asked.
TEST(ProcfsCalls, ExecutingAnotherProgramChangesTheProgram) {
    ExecutingChild child;
    Opened process{child.pid()};
    ASSERT_NE(process.get(), nullptr);
    EXPECT_TRUE(platform::runs_noted_program(processes(), process.get())) << "nothing noted";
    const auto created = identify(process.get());
    EXPECT_TRUE(platform::runs_noted_program(processes(), process.get()));
    look_at(process.get());
    EXPECT_TRUE(platform::runs_noted_program(processes(), process.get()))
        << "nothing was executed yet";

    child.execute();
    EXPECT_FALSE(platform::runs_noted_program(processes(), process.get()));
    EXPECT_EQ(look_at(process.get()), created);
    EXPECT_FALSE(platform::runs_noted_program(processes(), process.get()))
        << "compared with the noted program";
}

// Executing its own file again lays the program out anew (with addresses randomised, the code
// of a position-independent program lands elsewhere): a new program, though the file is the
// same. Where descriptors are short the program's memory is not held, and the layout alone
// tells.
TEST(ProcfsCalls, ExecutingTheSameFileAgainIsANewLayout) {
    std::ifstream randomised{"/proc/sys/kernel/randomize_va_space"};
    int randomisation = 0;
    randomised >> randomisation;
    if (randomisation == 0) GTEST_SKIP() << "addresses are not randomised here";
    for (const bool memory_held : {true, false}) {
        SCOPED_TRACE(memory_held ? "memory held" : "layout alone");
        // It executes itself once its input ends, and then waits on a child that sleeps.
        test_support::WaitingProgram shell{
            "/bin/sh", {"/bin/sh", "-c", "read line; exec /bin/sh -c 'sleep 60; :'"}};
        ASSERT_GT(shell.pid(), 0);
        // The program's memory is held only by a descriptor in the lower half of the limit:
        // filling that half leaves the layout alone to tell.
        std::vector<int> filling;
        if (!memory_held) {
            rlimit limit{};
            ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
            if (limit.rlim_cur > 65536) GTEST_SKIP() << "too many descriptors to fill half";
            for (;;) {
                const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                if (fd < 0) break;
                filling.push_back(fd);
                if (static_cast<rlim_t>(fd) >= limit.rlim_cur / 2) break;
            }
        }
        const std::size_t before = open_descriptors();
        Opened process{static_cast<platform::Pid>(shell.pid())};
        ASSERT_NE(process.get(), nullptr);
        const auto created = identify(process.get());
        const std::size_t held = open_descriptors() - before;
        for (const int fd : filling) ::close(fd);
        ASSERT_EQ(held, memory_held ? 2u : 1u);

        shell.close_input();
        const std::string cmdline_path = "/proc/" + shell.pid_text() + "/cmdline";
        const auto executed_again = [&] {
            std::ifstream cmdline{cmdline_path};
            const std::string now{std::istreambuf_iterator<char>{cmdline}, {}};
            return now == std::string{"/bin/sh\0-c\0sleep 60; :\0", 23};
        };
        for (int tries = 0; tries < 5000 && !executed_again(); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(executed_again());
        EXPECT_EQ(look_at(process.get()), created);
        EXPECT_FALSE(platform::runs_noted_program(processes(), process.get()));
    }
}

// A shell that executes itself with the same words each time a line arrives, its addresses not
// randomised: every instance is laid out exactly alike, and only its memory is new.
class SelfExecutingShell {
public:
    SelfExecutingShell() {
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::personality(ADDR_NO_RANDOMIZE);
            ::dup2(input[0], STDIN_FILENO);
            const char* script = "read line; exec /bin/sh -c \"$0\" \"$0\"";
            ::execl("/bin/sh", "/bin/sh", "-c", script, script, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(input[0]);
        input_ = input[1];
    }
    ~SelfExecutingShell() {
        ::close(input_);
        test_support::end_child(pid_);
    }
    SelfExecutingShell(const SelfExecutingShell&) = delete;
    SelfExecutingShell& operator=(const SelfExecutingShell&) = delete;

    platform::Pid pid() const { return static_cast<platform::Pid>(pid_); }
    std::string directory() const { return "/proc/" + std::to_string(pid_); }
    // Its code and first stack as stat shows them; empty until it is laid out.
    std::vector<std::string> layout() const {
        const auto stat = test_support::stat_fields(directory() + "/stat");
        if (stat.size() <= 51 || stat[26] == "0" || stat[51] == "0") return {};
        return {stat[26], stat[27], stat[28]};
    }
    // Waits until it is laid out and waits for a line; false when it never is.
    bool wait_until_waiting() const {
        for (int tries = 0; tries < 5000; ++tries) {
            const auto syscall = [&] {
                std::ifstream file{directory() + "/syscall"};
                std::string number;
                file >> number;
                return number;
            }();
            if (!layout().empty() && syscall == std::to_string(SYS_read)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    // Sends a line, and returns once it has executed itself: the memory it ran in is gone.
    bool execute_again() const {
        const int memory = ::open((directory() + "/pagemap").c_str(), O_RDONLY | O_CLOEXEC);
        std::uint64_t entry = 0;
        bool gone = false;
        if (memory >= 0 && ::write(input_, "\n", 1) == 1) {
            for (int tries = 0; tries < 5000 && !gone; ++tries) {
                gone = ::pread(memory, &entry, sizeof entry, 0) != sizeof entry;
                if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (memory >= 0) ::close(memory);
        return gone && wait_until_waiting();
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

// Executing a program laid out exactly as the one before (the same file, the same words, no
// randomised addresses) is still a new program: its memory is new.
TEST(ProcfsCalls, ExecutingAProgramLaidOutAlikeIsANewProgram) {
    SelfExecutingShell shell;
    ASSERT_GT(shell.pid(), 0u);
    ASSERT_TRUE(shell.wait_until_waiting());
    // Once executed by the shell itself, its environment too is the same each time.
    ASSERT_TRUE(shell.execute_again());
    Opened process{shell.pid()};
    ASSERT_NE(process.get(), nullptr);
    const auto before = shell.layout();
    const auto created = identify(process.get());
    ASSERT_TRUE(shell.execute_again());
    ASSERT_EQ(shell.layout(), before) << "laid out otherwise: the layout alone would tell";
    EXPECT_EQ(look_at(process.get()), created);
    EXPECT_FALSE(platform::runs_noted_program(processes(), process.get()));
}

// A process that ends lets go of its memory too; ending between the recheck's exit code and
// its times is no new program.
TEST(ProcfsCalls, AProcessThatEndsIsNoNewProgram) {
    Child child;
    Opened process{pid_of(child)};
    ASSERT_NE(process.get(), nullptr);
    identify(process.get());
    EXPECT_EQ(liveness_of(process.get()), platform::Liveness::running);
    ::kill(child.pid(), SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOWAIT), 0);
    platform::FileTime creation, kernel, user;
    ASSERT_TRUE(platform::process_times(processes(), process.get(), creation, kernel, user));
    EXPECT_TRUE(platform::runs_noted_program(processes(), process.get()));
}

// A child that moves its argument area to a vector in its own memory when asked, with
// prctl(PR_SET_MM_MAP) and all else as it stands, as service managers rename processes.
class RenamingChild {
public:
    RenamingChild() {
        if (::pipe(request_) != 0 || ::pipe(done_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            char byte;
            if (::read(request_[0], &byte, 1) == 1) {
                (void)!::write(done_[1], rename() ? "y" : "n", 1);
            }
            for (;;) ::pause();
        }
    }
    ~RenamingChild() {
        test_support::end_child(pid_);
        for (const int fd : {request_[0], request_[1], done_[0], done_[1]}) ::close(fd);
    }
    RenamingChild(const RenamingChild&) = delete;
    RenamingChild& operator=(const RenamingChild&) = delete;

    platform::Pid pid() const { return static_cast<platform::Pid>(pid_); }
    // Whether it renamed itself.
    bool rename_now() const {
        char answer = 'n';
        return ::write(request_[1], "r", 1) == 1 && ::read(done_[0], &answer, 1) == 1 &&
               answer == 'y';
    }

private:
    static bool rename() {
        // In anonymous memory, as the arguments on the stack are: the kernel reads a cmdline
        // from nothing else.
        static constexpr char vector[] = "renamed\0by\0prctl";
        void* const page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (page == MAP_FAILED) return false;
        char* const renamed = static_cast<char*>(std::memcpy(page, vector, sizeof vector));
        const auto field = test_support::stat_fields("/proc/self/stat");
        if (field.size() <= 51) return false;
        prctl_mm_map map{};
        map.start_code = std::stoull(field[26]);
        map.end_code = std::stoull(field[27]);
        map.start_stack = std::stoull(field[28]);
        map.start_data = std::stoull(field[45]);
        map.end_data = std::stoull(field[46]);
        map.start_brk = std::stoull(field[47]);
        map.brk = reinterpret_cast<std::uint64_t>(::sbrk(0));
        map.arg_start = reinterpret_cast<std::uint64_t>(renamed);
        map.arg_end = map.arg_start + sizeof vector;
        map.env_start = std::stoull(field[50]);
        map.env_end = std::stoull(field[51]);
        map.exe_fd = static_cast<std::uint32_t>(-1);  // keep the executable
        return ::prctl(PR_SET_MM, PR_SET_MM_MAP, &map, sizeof map, 0) == 0;
    }

    pid_t pid_ = -1;
    int request_[2] = {-1, -1};
    int done_[2] = {-1, -1};
};

// A rename moves the arguments only: the process runs the same program.
TEST(ProcfsCalls, ARenameIsNoNewProgram) {
    RenamingChild child;
    ASSERT_GT(child.pid(), 0u);
    Opened process{child.pid()};
    ASSERT_NE(process.get(), nullptr);
    const auto created = identify(process.get());
    if (!child.rename_now()) {
        GTEST_SKIP() << "this kernel does not let a process move its arguments";
    }
    std::ifstream cmdline{"/proc/" + std::to_string(child.pid()) + "/cmdline"};
    const std::string renamed{std::istreambuf_iterator<char>{cmdline}, {}};
    ASSERT_EQ(renamed, std::string("renamed\0by\0prctl\0", 17));
    EXPECT_EQ(look_at(process.get()), created);
    EXPECT_TRUE(platform::runs_noted_program(processes(), process.get()));
}

// With no descriptor left, a live process is unreadable, never "no such process".
TEST(ProcfsCalls, RunningOutOfDescriptorsIsNoMissingProcess) {
    Child child;
    // No room for the directory, then room for the directory but not for the file under it.
    for (const int room : {0, 1}) {
        SCOPED_TRACE(room);
        test_support::TightDescriptorLimit tight{room};
        ASSERT_TRUE(tight.applied());
        const platform::Opened opened = platform::open_process(processes(), pid_of(child));
        tight.lift();
        EXPECT_EQ(opened.handle, nullptr);
        platform::close_process(processes(), opened.handle);
        EXPECT_EQ(opened.failure, platform::OpenFailure::out_of_descriptors);
    }
}

// Whether a process whose main thread has ended still runs, only its other threads say; with
// no descriptor to read them by, that is unknown (a failed call), never "still running".
TEST(ProcfsCalls, HalfExitedProcessIsNotGuessedRunningWithoutADescriptor) {
    test_support::HalfExitedChild child;
    ASSERT_EQ(child.state(), 'Z');
    Opened process{static_cast<platform::Pid>(child.pid())};
    ASSERT_NE(process.get(), nullptr);
    test_support::TightDescriptorLimit tight;
    ASSERT_TRUE(tight.applied());
    const auto answered = liveness_of(process.get());
    tight.lift();
    EXPECT_FALSE(answered.has_value()) << "answered " << static_cast<int>(*answered);
    EXPECT_EQ(liveness_of(process.get()), platform::Liveness::running);
}

// A leader that stops after its exit code was read (a process being killed, its other threads
// not yet gone) has let go of its memory and executable; a thread that runs still shows them.
TEST(ProcfsCalls, LeaderThatStopsAfterItsExitCodeWasReadIsReadThroughAnotherThread) {
    // A child whose main thread ends when a byte arrives, while a second thread runs on.
    class Child {
    public:
        Child() {
            if (::pipe(go_) != 0) return;
            pid_ = ::fork();
            if (pid_ == 0) {
                std::thread{[] { ::pause(); }}.detach();
                grow_and_shrink();
                char byte = 0;
                while (::read(go_[0], &byte, 1) < 0 && errno == EINTR) {
                }
                ::syscall(SYS_exit, 0);  // ends this thread only
            }
        }
        ~Child() {
            if (pid_ > 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
            ::close(go_[0]);
            ::close(go_[1]);
        }
        pid_t pid() const { return pid_; }
        void end_main_thread() const { EXPECT_EQ(::write(go_[1], "x", 1), 1); }
        // The thread that runs on.
        std::string second_thread() const {
            const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
            for (const auto& task : std::filesystem::directory_iterator{tasks}) {
                const std::string tid = task.path().filename().string();
                if (tid != std::to_string(pid_)) return tid;
            }
            return "?";
        }
        char leader_state() const {
            std::ifstream stat{"/proc/" + std::to_string(pid_) + "/stat"};
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
        }

    private:
        int go_[2] = {-1, -1};
        pid_t pid_ = -1;
    } child;
    ASSERT_GT(child.pid(), 0);
    Opened process{static_cast<platform::Pid>(child.pid())};
    ASSERT_NE(process.get(), nullptr);
    EXPECT_EQ(liveness_of(process.get()), platform::Liveness::running);
    child.end_main_thread();
    for (int tries = 0; tries < 5000 && child.leader_state() != 'Z'; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(child.leader_state(), 'Z');

    // Its memory as a thread that runs shows it; the peak lies well above the current size.
    const std::string live_thread =
        "/proc/" + std::to_string(child.pid()) + "/task/" + child.second_thread();
    platform::MemoryCounters memory{};
    bool read = false;
    const auto sizes = around(live_thread, [&] {
        read = platform::process_memory(processes(), process.get(), memory);
    });
    ASSERT_TRUE(sizes.has_value());
    ASSERT_TRUE(read);
    ASSERT_GE(sizes->peak, sizes->resident + (16u << 20));
    EXPECT_EQ(memory.working_set, sizes->resident);
    EXPECT_EQ(memory.peak_working_set, sizes->peak);
    // The child is a fork of this test program.
    EXPECT_EQ(platform::executable_path(processes(), process.get()),
              std::filesystem::read_symlink("/proc/self/exe").string());
}

TEST(ProcfsCalls, KernelThreadHasNoMemoryAndNoImage) {
    if (!test_support::is_kernel_thread(2)) {
        GTEST_SKIP() << "no kernel thread visible as PID 2 here";
    }
    Opened kernel_thread{2};
    ASSERT_NE(kernel_thread.get(), nullptr);
    EXPECT_EQ(liveness_of(kernel_thread.get()), platform::Liveness::running);
    platform::MemoryCounters memory{1, 1};
    ASSERT_TRUE(platform::process_memory(processes(), kernel_thread.get(), memory));
    EXPECT_EQ(memory.working_set, 0u);
    EXPECT_EQ(memory.peak_working_set, 0u);
    EXPECT_FALSE(platform::executable_path(processes(), kernel_thread.get()).has_value());
}

TEST(ProcfsCalls, OwnProcessIsAlwaysReadable) {
    platform::MemoryCounters memory;
    ASSERT_TRUE(platform::own_memory(memory));
    EXPECT_GT(memory.working_set, 0u);
    EXPECT_GE(memory.peak_working_set, memory.working_set);
    EXPECT_TRUE(platform::own_memory(memory));
}

// Stopping at the line feed is only a shortcut: whatever the file holds, both readers give all
// of it, however long its line or however many lines it has.
// Without /proc/stat the boot time comes from the clocks; it must be the kernel's own btime,
// or creation times would move between a run that can read /proc/stat and one that cannot.
TEST(SystemClockFacts, BootTimeFromTheClocksIsTheKernelsBtime) {
    procfs::Reader reader;
    const auto file = reader.read_file_at(AT_FDCWD, "/proc/stat");
    ASSERT_EQ(file.error, 0);
    const std::optional<std::uint64_t> btime = procfs::parse_boot_time(file.text);
    ASSERT_TRUE(btime.has_value());
    EXPECT_EQ(procfs::boot_time_from_clocks(), btime);
}

TEST(ProcFile, LineReaderGivesTheWholeFile) {
    const std::vector<std::string> contents = {
        "",
        "one line\n",
        "no line feed",
        std::string(10000, 'x') + "\n",
        // A full first read that happens to end a line is not the end.
        std::string(4095, 'x') + "\nmore\n",
        "first\nsecond\n",
        "first\nsecond without line feed",
    };
    procfs::Reader reader;
    for (const auto& content : contents) {
        SCOPED_TRACE(content.substr(0, 40));
        char path[] = "/tmp/zul-proc-file-XXXXXX";
        const int fd = ::mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        ::close(fd);
        const auto line = reader.read_line_file_at(AT_FDCWD, path);
        EXPECT_EQ(line.error, 0);
        EXPECT_EQ(std::string{line.text}, content);
        const auto whole = reader.read_file_at(AT_FDCWD, path);
        EXPECT_EQ(whole.error, 0);
        EXPECT_EQ(std::string{whole.text}, content);
        ::unlink(path);
    }
    const std::string stat{reader.read_line_file_at(AT_FDCWD, "/proc/self/stat").text};
    ASSERT_FALSE(stat.empty());
    EXPECT_EQ(stat.back(), '\n');
    EXPECT_EQ(stat.find('\n'), stat.size() - 1);
}

}  // namespace
