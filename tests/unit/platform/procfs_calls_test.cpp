// The Linux backend's process calls against real processes: children in each state the probes
// must tell apart, a thread that is not a process, and a kernel thread.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.hpp"
#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/system_clock_facts.hpp"
#include "support/linux_tasks.hpp"

namespace {

using platform::Handle;

using test_support::Child;

platform::Pid pid_of(const Child& child) { return static_cast<platform::Pid>(child.pid()); }

// Opens with the one access right the probes ask for; closes on scope exit.
class Opened {
public:
    explicit Opened(platform::Pid pid)
        : handle_(platform::open_process(platform::process_query_limited_information, false, pid)),
          error_(handle_ == nullptr ? platform::last_error() : 0) {}
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    ~Opened() { platform::close_handle(handle_); }

    Handle get() const { return handle_; }
    std::uint32_t error() const { return error_; }

private:
    Handle handle_;
    std::uint32_t error_;
};

std::uint64_t units(const platform::FileTime& time) {
    return (static_cast<std::uint64_t>(time.high) << 32) | time.low;
}

std::uint32_t exit_code_of(Handle handle) {
    std::uint32_t code = 0;
    EXPECT_TRUE(platform::exit_code_process(handle, code));
    return code;
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

TEST(ProcfsCalls, LiveChildAnswersEveryCall) {
    Child child;
    const auto descriptors_before = open_descriptor_count();
    {
        Opened process{pid_of(child)};
        ASSERT_NE(process.get(), nullptr);
        EXPECT_EQ(exit_code_of(process.get()), platform::still_active);

        platform::FileTime creation, exit, kernel, user;
        ASSERT_TRUE(platform::process_times(process.get(), creation, exit, kernel, user));
        // Both starts as the kernel gives them, on the 1601-based scale.
        platform::FileTime own_creation, own_exit, own_kernel, own_user;
        ASSERT_TRUE(platform::process_times(platform::current_process(), own_creation, own_exit,
                                            own_kernel, own_user));
        EXPECT_EQ(units(creation), kernel_start(child.pid()));
        EXPECT_EQ(units(own_creation), kernel_start(::getpid()));
        EXPECT_EQ(units(exit), 0u);
        // The durations alone, as sample and the diagnostics read them.
        platform::FileTime cpu_kernel, cpu_user;
        ASSERT_TRUE(platform::process_cpu_times(process.get(), cpu_kernel, cpu_user));
        EXPECT_GE(units(cpu_kernel), units(kernel));
        EXPECT_GE(units(cpu_user), units(user));
        ASSERT_TRUE(platform::process_cpu_times(platform::current_process(), cpu_kernel,
                                                cpu_user));
        EXPECT_GE(units(cpu_kernel) + units(cpu_user), units(own_kernel) + units(own_user));

        platform::MemoryCounters memory;
        ASSERT_TRUE(platform::process_memory_info(process.get(), memory));
        EXPECT_GT(memory.working_set, 0u);
        EXPECT_GE(memory.peak_working_set, memory.working_set);

        std::vector<char16_t> name(platform::image_name_units);
        std::uint32_t size = platform::image_name_units;
        ASSERT_TRUE(
            platform::full_process_image_name(process.get(), 0, name.data(), size));
        EXPECT_GT(size, 0u);
        EXPECT_EQ(name[0], u'/');
        EXPECT_EQ(name[size], u'\0');
    }
    EXPECT_EQ(open_descriptor_count(), descriptors_before);
}

TEST(ProcfsCalls, MissingAndNonProcessIdsAreInvalidParameter) {
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
        EXPECT_EQ(process.error(), platform::error_invalid_parameter);
    }
}

TEST(ProcfsCalls, ZombieAndReapedChildrenHaveExited) {
    // A zombie can be opened, like a Windows process whose object is still held.
    Child zombie{Child::State::exited};
    Opened opened_zombie{pid_of(zombie)};
    ASSERT_NE(opened_zombie.get(), nullptr);
    EXPECT_NE(exit_code_of(opened_zombie.get()), platform::still_active);

    // Reaped while the handle is held: nothing can be read any more, and it reads as exited.
    Child reaped;
    Opened opened_reaped{pid_of(reaped)};
    ASSERT_NE(opened_reaped.get(), nullptr);
    EXPECT_EQ(exit_code_of(opened_reaped.get()), platform::still_active);
    reaped.end();
    EXPECT_NE(exit_code_of(opened_reaped.get()), platform::still_active);
    platform::FileTime creation, exit, kernel, user;
    EXPECT_FALSE(platform::process_times(opened_reaped.get(), creation, exit, kernel, user));
    // Like an ended Windows process: nothing resident, and not a failure.
    platform::MemoryCounters memory{1, 1};
    EXPECT_TRUE(platform::process_memory_info(opened_reaped.get(), memory));
    EXPECT_EQ(memory.working_set, 0u);
    EXPECT_EQ(memory.peak_working_set, 0u);
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

// Executing another program keeps the ID and the start time; the image is what tells, and the
// exit-code query of the recheck is what sees it, with no call of its own.
TEST(ProcfsCalls, ExecutingAnotherProgramChangesTheImage) {
    ExecutingChild child;
    Opened process{child.pid()};
    ASSERT_NE(process.get(), nullptr);
    const auto creation_ticks = [&] {
        platform::FileTime creation, exit, kernel, user;
        EXPECT_TRUE(platform::process_times(process.get(), creation, exit, kernel, user));
        return units(creation);
    };
    ASSERT_EQ(exit_code_of(process.get()), platform::still_active);
    const auto created = creation_ticks();
    EXPECT_TRUE(platform::image_unchanged(process.get()));
    ASSERT_EQ(exit_code_of(process.get()), platform::still_active);
    EXPECT_TRUE(platform::image_unchanged(process.get())) << "nothing was executed yet";

    child.execute();
    EXPECT_TRUE(platform::image_unchanged(process.get())) << "no exit-code query saw it yet";
    ASSERT_EQ(exit_code_of(process.get()), platform::still_active);
    EXPECT_EQ(creation_ticks(), created);
    EXPECT_FALSE(platform::image_unchanged(process.get()));
    ASSERT_EQ(exit_code_of(process.get()), platform::still_active);
    EXPECT_FALSE(platform::image_unchanged(process.get())) << "compared with the first image";
    EXPECT_TRUE(platform::image_unchanged(platform::current_process()));
}

// With no descriptor left, a live process is unreadable, never "no such process".
TEST(ProcfsCalls, RunningOutOfDescriptorsIsNotInvalidParameter) {
    Child child;
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest_free = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);

    // No room for the directory, then room for the directory but not for the file under it.
    for (const int room : {0, 1}) {
        SCOPED_TRACE(room);
        rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(lowest_free + room);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        const Handle handle =
            platform::open_process(platform::process_query_limited_information, false,
                                   pid_of(child));
        const auto error = platform::last_error();
        ::setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_EQ(handle, nullptr);
        platform::close_handle(handle);
        EXPECT_NE(error, platform::error_invalid_parameter);
        EXPECT_NE(error, 0u);
    }
}

// Whether a process whose main thread has ended still runs, only its other threads say; with
// no descriptor to read them by, that is unknown (a failed call), never "still running".
TEST(ProcfsCalls, HalfExitedProcessIsNotGuessedRunningWithoutADescriptor) {
    test_support::HalfExitedChild child;
    ASSERT_EQ(child.state(), 'Z');
    Opened process{static_cast<platform::Pid>(child.pid())};
    ASSERT_NE(process.get(), nullptr);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest_free = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);

    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::uint32_t code = 0;
    const bool answered = platform::exit_code_process(process.get(), code);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(answered) << "answered " << code;
    EXPECT_EQ(exit_code_of(process.get()), platform::still_active);
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
    EXPECT_EQ(exit_code_of(process.get()), platform::still_active);
    child.end_main_thread();
    for (int tries = 0; tries < 5000 && child.leader_state() != 'Z'; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(child.leader_state(), 'Z');

    platform::MemoryCounters memory{};
    ASSERT_TRUE(platform::process_memory_info(process.get(), memory));
    EXPECT_GT(memory.working_set, 0u);
    EXPECT_GE(memory.peak_working_set, memory.working_set);
    char own[4096];
    const auto length = ::readlink("/proc/self/exe", own, sizeof own);
    ASSERT_GT(length, 0);
    char16_t name[4096];
    std::uint32_t size = 4096;
    ASSERT_TRUE(platform::full_process_image_name(process.get(), 0, name, size));
    // The child is a fork of this test program; its path is ASCII here.
    EXPECT_EQ(std::u16string(name, size), std::u16string(own, own + length));
}

TEST(ProcfsCalls, KernelThreadHasNoMemoryAndNoImage) {
    if (!test_support::is_kernel_thread(2)) {
        GTEST_SKIP() << "no kernel thread visible as PID 2 here";
    }
    Opened kernel_thread{2};
    ASSERT_NE(kernel_thread.get(), nullptr);
    EXPECT_EQ(exit_code_of(kernel_thread.get()), platform::still_active);
    platform::MemoryCounters memory{1, 1};
    ASSERT_TRUE(platform::process_memory_info(kernel_thread.get(), memory));
    EXPECT_EQ(memory.working_set, 0u);
    EXPECT_EQ(memory.peak_working_set, 0u);
    char16_t name[16];
    std::uint32_t size = 16;
    EXPECT_FALSE(platform::full_process_image_name(kernel_thread.get(), 0, name, size));
}

TEST(ProcfsCalls, OwnProcessIsAlwaysReadable) {
    const auto self = platform::current_process();
    EXPECT_EQ(exit_code_of(self), platform::still_active);
    platform::MemoryCounters memory;
    ASSERT_TRUE(platform::process_memory_info(self, memory));
    EXPECT_GT(memory.working_set, 0u);
    EXPECT_GE(memory.peak_working_set, memory.working_set);
    // Never freed: closing it is harmless and it still answers.
    platform::close_handle(self);
    EXPECT_TRUE(platform::process_memory_info(self, memory));
}

TEST(ProcfsCalls, ImageNameNeedsRoomForTheNull) {
    Child child;
    Opened process{pid_of(child)};
    ASSERT_NE(process.get(), nullptr);
    std::vector<char16_t> name(platform::image_name_units);
    std::uint32_t size = platform::image_name_units;
    ASSERT_TRUE(platform::full_process_image_name(process.get(), 0, name.data(), size));
    const auto length = size;

    std::uint32_t exact = length;
    EXPECT_FALSE(platform::full_process_image_name(process.get(), 0, name.data(), exact));
    std::uint32_t with_null = length + 1;
    EXPECT_TRUE(platform::full_process_image_name(process.get(), 0, name.data(), with_null));
    EXPECT_EQ(with_null, length);
}

// Stopping at the line feed is only a shortcut: whatever the file holds, both readers give all
// of it, however long its line or however many lines it has.
// Without /proc/stat the boot time comes from the clocks; it must be the kernel's own btime,
// or creation times would move between a run that can read /proc/stat and one that cannot.
TEST(SystemClockFacts, BootTimeFromTheClocksIsTheKernelsBtime) {
    const auto file = procfs::read_file_at(AT_FDCWD, "/proc/stat");
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
    for (const auto& content : contents) {
        SCOPED_TRACE(content.substr(0, 40));
        char path[] = "/tmp/zul-proc-file-XXXXXX";
        const int fd = ::mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        ::close(fd);
        const auto line = procfs::read_line_file_at(AT_FDCWD, path);
        EXPECT_EQ(line.error, 0);
        EXPECT_EQ(std::string{line.text}, content);
        const auto whole = procfs::read_file_at(AT_FDCWD, path);
        EXPECT_EQ(whole.error, 0);
        EXPECT_EQ(std::string{whole.text}, content);
        ::unlink(path);
    }
    const std::string stat{procfs::read_line_file_at(AT_FDCWD, "/proc/self/stat").text};
    ASSERT_FALSE(stat.empty());
    EXPECT_EQ(stat.back(), '\n');
    EXPECT_EQ(stat.find('\n'), stat.size() - 1);
}

}  // namespace
