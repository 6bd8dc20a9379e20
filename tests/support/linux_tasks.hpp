// Tasks that the Linux tests look at, and the kernel's own reading of a task, taken with
// nothing of the tool's: children of this test program (waiting, exited, or with their main
// thread ended), a second thread of it, and programs started to wait on their input.
#pragma once

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "support/child_pipes.hpp"

extern char** environ;

namespace test_support {

// ---- The kernel's reading

// The fields of a stat file, numbered as proc(5) numbers them: [1] the ID, [2] the name,
// [3] the state, and so on ([0] is empty). Empty when the file cannot be read.
inline std::vector<std::string> stat_fields(const std::string& path) {
    std::ifstream file{path};
    std::string line;
    if (!std::getline(file, line)) return {};
    // The name may hold blanks and parentheses: it ends at the last ')'.
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return {};
    std::vector<std::string> fields{"", line.substr(0, open - 1),
                                    line.substr(open + 1, close - open - 1)};
    std::istringstream rest{line.substr(close + 1)};
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

// Whether /proc/<pid> is a kernel thread: PF_KTHREAD in field 9 of its stat. False when there
// is no such task here (a container's PID 2 is often none, or a process of its own).
inline bool is_kernel_thread(pid_t pid) {
    constexpr unsigned long long pf_kthread = 0x00200000;
    const auto fields = stat_fields("/proc/" + std::to_string(pid) + "/stat");
    return fields.size() > 9 && (std::stoull(fields[9]) & pf_kthread) != 0;
}

// btime of /proc/stat: when the system booted, in seconds since the Unix epoch; 0 when there
// is no such line.
inline std::uint64_t boot_seconds() {
    std::ifstream stat{"/proc/stat"};
    for (std::string line; std::getline(stat, line);) {
        if (line.rfind("btime ", 0) == 0) return std::stoull(line.substr(6));
    }
    return 0;
}

// A start `start_ticks` clock ticks after a boot at `boot_seconds`, as 100-ns ticks since
// 1601-01-01 UTC: (btime + starttime / CLK_TCK) × 10^7 + the 1601-to-1970 offset, exact in
// integers (rounded down where CLK_TCK does not divide 10^7).
inline std::uint64_t ticks_since_1601(std::uint64_t boot_seconds, std::uint64_t start_ticks) {
    constexpr std::uint64_t per_second = 10'000'000;
    constexpr std::uint64_t from_1601_to_1970 = 116'444'736'000'000'000;
    const auto clock_ticks = static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
    return from_1601_to_1970 + boot_seconds * per_second + start_ticks * per_second / clock_ticks;
}

// The kernel hands out PIDs below this, so no process has it or any ID above it.
inline std::uint64_t pid_max() {
    std::ifstream limit{"/proc/sys/kernel/pid_max"};
    std::uint64_t value = 4194304;  // the most any kernel allows
    limit >> value;
    return value;
}

inline std::string pid_nobody_has() { return std::to_string(pid_max()); }

// The state letter of /proc/<pid>, '?' when it cannot be read.
inline char state_of(pid_t pid) {
    const auto fields = stat_fields("/proc/" + std::to_string(pid) + "/stat");
    return fields.size() > 3 && fields[3].size() == 1 ? fields[3][0] : '?';
}

// A figure of /proc/<pid>/status in bytes, such as "VmRSS:"; 0 when it is not there.
inline std::uint64_t status_bytes(pid_t pid, const std::string& key) {
    std::ifstream status{"/proc/" + std::to_string(pid) + "/status"};
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) return std::stoull(line.substr(key.size())) * 1024;
    }
    return 0;
}

// Whether a child that has just started came to wait, its resident set no longer growing (a
// child touches pages as it starts), within a few seconds: from then on the kernel's figures
// of it stay as they are.
inline bool settled(pid_t pid) {
    std::uint64_t resident = 0;
    for (int tries = 0; tries < 250; ++tries) {
        const std::uint64_t now = status_bytes(pid, "VmRSS:");
        if (now == resident && state_of(pid) == 'S') return true;
        resident = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// ---- Children of this test program

// A copy of this test program that waits until it is killed, and is killed with the test if
// the test dies first; -1 when fork failed.
inline pid_t fork_waiting_child() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls here: the test may have other threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;) ::pause();
    }
    return pid;
}

// Kills and reaps; nothing for an ID that names no child (0 or less).
inline void end_child(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// A child that waits until it is ended, or that has exited at once and is left unreaped (a
// zombie). Ended, killed and reaped, by end() or when the object goes.
class Child {
public:
    enum class State { waiting, exited };

    explicit Child(State state = State::waiting) {
        if (state == State::waiting) {
            pid_ = fork_waiting_child();
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) ::_exit(0);
        siginfo_t info{};
        if (pid_ > 0) ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    }
    ~Child() { end(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    std::string pid_text() const { return std::to_string(pid_); }

    // From now on its ID names nobody (until the kernel hands it out again).
    void end() {
        end_child(pid_);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A child whose main thread has ended while a second thread runs on: the leader shows as a
// zombie, and its own directory has no executable and no command line any more.
class HalfExitedChild {
public:
    HalfExitedChild() {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::thread{[] { ::pause(); }}.detach();
            ::syscall(SYS_exit, 0);  // ends this thread only
        }
        for (int tries = 0; tries < 5000 && state() != 'Z'; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~HalfExitedChild() { end_child(pid_); }
    HalfExitedChild(const HalfExitedChild&) = delete;
    HalfExitedChild& operator=(const HalfExitedChild&) = delete;

    pid_t pid() const { return pid_; }
    std::string pid_text() const { return std::to_string(pid_); }
    // The leader's state letter in stat, '?' when it cannot be read.
    char state() const { return state_of(pid_); }

private:
    pid_t pid_ = -1;
};

// A second thread of this test program, parked until the object is destroyed.
class ParkedThread {
public:
    ParkedThread()
        : thread_([this] {
              started_.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
              release_.get_future().wait();
          }),
          tid_(started_.get_future().get()) {}
    ~ParkedThread() {
        release_.set_value();
        thread_.join();
    }
    ParkedThread(const ParkedThread&) = delete;
    ParkedThread& operator=(const ParkedThread&) = delete;

    pid_t tid() const { return tid_; }
    std::string tid_text() const { return std::to_string(tid_); }

private:
    std::promise<pid_t> started_;
    std::promise<void> release_;
    std::thread thread_;
    pid_t tid_;
};

// ---- Programs that wait

// A program started with exactly the words the test chooses (argv[0] included) and pipes on
// its standard input and output. Once constructed it runs that program with its arguments in
// place; it ends when its input is closed (if it reads it) or at end().
class WaitingProgram {
public:
    WaitingProgram(const std::string& program, std::vector<std::string> words) {
        ChildPipes pipes;
        if (!pipes.made()) return;
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipes.child_input(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipes.child_output(), STDOUT_FILENO);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        pipes.close_child_ends();
        input_ = pipes.release_writing_end();
        output_ = pipes.release_reading_end();
        wait_until_laid_out();
    }
    ~WaitingProgram() {
        end();
        if (output_ >= 0) ::close(output_);
    }
    WaitingProgram(const WaitingProgram&) = delete;
    WaitingProgram& operator=(const WaitingProgram&) = delete;

    pid_t pid() const { return pid_; }
    std::string pid_text() const { return std::to_string(pid_); }

    // Reads the next line it says; false when it ended or said something else.
    bool says(const std::string& word) {
        std::string line;
        char byte = 0;
        while (::read(output_, &byte, 1) == 1 && byte != '\n') line.push_back(byte);
        return byte == '\n' && line == word;
    }
    // Writes one byte to its standard input.
    void nudge() {
        const char byte = 1;
        (void)!::write(input_, &byte, 1);
    }
    // Closes its standard input; a program that reads it then ends.
    void close_input() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }
    // Until it has exited, leaving it unreaped (a zombie).
    void wait_until_exited() const {
        siginfo_t info{};
        if (pid_ > 0) ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    }
    // Closes its input, kills it and reaps it: from now on its ID names nobody.
    void end() {
        close_input();
        end_child(pid_);
        pid_ = -1;
    }

private:
    // posix_spawn returns as soon as the new program's memory is in place, and the kernel lays
    // out its arguments a moment later; until then its cmdline reads empty. The layout is done
    // once env_end (field 51 of stat) is set, and stays so even if the program later empties
    // its own argument range.
    void wait_until_laid_out() const {
        if (pid_ <= 0) return;
        const std::string path = "/proc/" + std::to_string(pid_) + "/stat";
        for (int attempt = 0; attempt < 2000; ++attempt) {
            const auto fields = stat_fields(path);
            if (fields.size() > 51 && fields[51] != "0") return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
};

// The descriptors of process `holder` that name /proc/<pid> or a file under it: what the tool
// holds of a process, seen from outside.
inline std::size_t descriptors_naming(pid_t holder, pid_t pid) {
    const std::string fds = "/proc/" + std::to_string(holder) + "/fd";
    const std::string directory = "/proc/" + std::to_string(pid);
    std::size_t count = 0;
    DIR* const listing = ::opendir(fds.c_str());
    if (listing == nullptr) return 0;
    while (const dirent* entry = ::readdir(listing)) {
        char target[256];
        const std::string link = fds + "/" + entry->d_name;
        const auto length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0) continue;
        const std::string name{target, static_cast<std::size_t>(length)};
        if (name == directory || name.rfind(directory + "/", 0) == 0) ++count;
    }
    ::closedir(listing);
    return count;
}

}  // namespace test_support
