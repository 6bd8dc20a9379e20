// One run of the tool while the processes it looks at end or execute: a process that stays put
// beside them is found in every run, whatever the others do, and a process killed at any moment
// is found or not_found, never an error row; and a found row carries the figures the kernel
// showed of that process before the run, never the zeros of one already gone. Each test is
// bounded in time, not in runs, so a slow build (the sanitizers) makes fewer runs rather than
// a longer test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto time_per_test = std::chrono::seconds(3);
constexpr int fewest_runs = 8;

// A shell that replaces itself with itself, with the same arguments, over and over: each time
// it is in the middle of execve for a moment, with its new memory and no arguments in it yet.
class ExecutingLoop {
public:
    static constexpr const char* script = "exec /proc/self/exe -c \"$0\" \"$0\"";
    // Its command line once it has executed itself, as the tool quotes it.
    static std::string command_line() {
        return "/proc/self/exe -c '" + std::string{script} + "' '" + script + "'";
    }

    ExecutingLoop() {
        std::string text = script;
        std::string shell = "/bin/sh";
        std::string flag = "-c";
        char* argv[] = {shell.data(), flag.data(), text.data(), text.data(), nullptr};
        if (::posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    }
    ~ExecutingLoop() { test_support::end_child(pid_); }
    ExecutingLoop(const ExecutingLoop&) = delete;
    ExecutingLoop& operator=(const ExecutingLoop&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A child that runs `threads` threads and has touched `bytes` of its own memory (so that its
// exit takes a while: the threads leave one by one, the leader first letting go of the memory
// and then waiting as a zombie), says so on `ready` and waits until it is killed; -1 when fork
// failed.
pid_t fork_child_with_memory(std::size_t threads, std::size_t bytes, int ready) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (std::size_t i = 1; i < threads; ++i) std::thread{[] { ::pause(); }}.detach();
        void* block =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block != MAP_FAILED) {
            auto* bytes_of = static_cast<volatile char*>(block);
            for (std::size_t at = 0; at < bytes; at += 4096) bytes_of[at] = 1;
        }
        const char done = 1;
        (void)!::write(ready, &done, 1);
        for (;;) ::pause();
    }
    return pid;
}

// `count` such children, each ready when this returns.
std::vector<pid_t> children_with_memory(std::size_t count, std::size_t threads,
                                        std::size_t bytes) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {};
    std::vector<pid_t> children;
    for (std::size_t i = 0; i < count; ++i) {
        const pid_t pid = fork_child_with_memory(threads, bytes, ends[1]);
        if (pid > 0) children.push_back(pid);
    }
    ::close(ends[1]);
    char done = 0;
    for (std::size_t i = 0; i < children.size() && ::read(ends[0], &done, 1) == 1; ++i) {
    }
    ::close(ends[0]);
    return children;
}

// What the kernel shows of a process that waits, read before a run: figures that a found row
// of it must carry, however far its end has come while the run looked at it.
struct Before {
    std::uint64_t user_ticks = 0;    // utime of stat
    std::uint64_t system_ticks = 0;  // stime of stat
    std::string created_at;          // starttime of stat, as the 1601-based ticks of a row
    std::uint64_t peak_bytes = 0;    // VmHWM of status: a peak never falls
};

std::uint64_t status_kilobytes(pid_t pid, const std::string& key) {
    std::ifstream status{"/proc/" + std::to_string(pid) + "/status"};
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) return std::strtoull(line.c_str() + key.size(), nullptr, 10);
    }
    return 0;
}

Before read_before(pid_t pid) {
    const auto stat = test_support::stat_fields("/proc/" + std::to_string(pid) + "/stat");
    Before before;
    if (stat.size() <= 22) return before;
    before.user_ticks = std::stoull(stat[14]);
    before.system_ticks = std::stoull(stat[15]);
    before.created_at = std::to_string(
        test_support::ticks_since_1601(test_support::boot_seconds(), std::stoull(stat[22])));
    before.peak_bytes = status_kilobytes(pid, "VmHWM:") * 1024;
    return before;
}

double milliseconds(std::uint64_t ticks) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double number_of(const testing_support::JsonNode& row, const char* key) {
    const testing_support::JsonNode* value = row.find(key);
    return value != nullptr && value->kind == testing_support::JsonNode::Kind::number
               ? value->as_double()
               : -1.0;
}

// What is wrong with the figures of a found row of a process read as `before` before the run
// (all of them forks of this test program, so they run its executable and its command line);
// empty when nothing is.
std::string wrong_figures(const testing_support::JsonNode& row, const Before& before,
                          const std::string& command_line) {
    using e2e::text_of;
    static const std::string executable = std::filesystem::read_symlink("/proc/self/exe");
    std::string wrong;
    const auto expect = [&](bool holds, const std::string& what) {
        if (!holds) wrong += what + "; ";
    };
    if (row.find("rssBytes") != nullptr) {
        // The peak is the kernel's before the run; what is resident is no more, and not none.
        const double resident = number_of(row, "rssBytes");
        const double peak = number_of(row, "systemPeakBytes");
        expect(peak == static_cast<double>(before.peak_bytes),
               "peak " + text_of(row, "systemPeakBytes") + " for " +
                   std::to_string(before.peak_bytes));
        expect(resident > 0 && resident <= peak, "resident " + text_of(row, "rssBytes"));
        // Times only grow, by what the exit itself costs.
        expect(number_of(row, "cpuUserMs") >= milliseconds(before.user_ticks) &&
                   number_of(row, "cpuSystemMs") >= milliseconds(before.system_ticks),
               "times " + text_of(row, "cpuUserMs") + " " + text_of(row, "cpuSystemMs"));
    } else {
        expect(text_of(row, "createdAt") == before.created_at,
               "created " + text_of(row, "createdAt") + " for " + before.created_at);
        expect(text_of(row, "executablePath") == executable,
               "path " + text_of(row, "executablePath"));
        expect(text_of(row, "commandLine") == command_line,
               "command line " + text_of(row, "commandLine"));
    }
    return wrong;
}

std::vector<std::string> command_with(const char* word, const std::vector<pid_t>& pids) {
    std::vector<std::string> arguments{word};
    for (const std::string& pid : e2e::as_arguments(pids)) arguments.push_back(pid);
    return arguments;
}

// A process executing itself shows an empty cmdline for a moment: that costs at most its own
// row, never the stable one's beside it (a null command line would fail the query for every
// process). The executing ones are found, or, when they executed between the looks at them,
// "PROCESS_CHANGED"; never another error.
TEST(Motion, ProcessesThatExecuteThemselvesSpoilNoRow) {
    const pid_t stable = test_support::fork_waiting_child();
    ASSERT_GT(stable, 0);
    std::vector<ExecutingLoop> loops(3);
    std::vector<pid_t> pids{stable};
    for (const ExecutingLoop& loop : loops) {
        ASSERT_GT(loop.pid(), 0);
        pids.push_back(loop.pid());
    }
    // Let every loop get past its first exec.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    const std::string shell = std::filesystem::canonical("/bin/sh");
    int runs = 0;
    int stable_found = 0;
    std::vector<std::string> stable_outcomes;
    std::vector<std::string> other_outcomes;
    std::vector<std::string> wrong_rows;
    const auto end = Clock::now() + time_per_test;
    while (runs < fewest_runs || Clock::now() < end) {
        ++runs;
        const std::vector<testing_support::JsonNode> rows =
            e2e::rows_of(e2e::run_tool(command_with("inspect", pids)));
        ASSERT_EQ(rows.size(), pids.size());
        const std::string stable_outcome = e2e::outcome_of(rows[0]);
        if (stable_outcome == "found") {
            ++stable_found;
        } else {
            stable_outcomes.push_back(stable_outcome);
        }
        for (std::size_t i = 1; i < rows.size(); ++i) {
            const std::string outcome = e2e::outcome_of(rows[i]);
            if (outcome != "found" && outcome != "PROCESS_CHANGED") {
                other_outcomes.push_back(outcome);
            }
            if (outcome == "found" &&
                (e2e::text_of(rows[i], "executablePath") != shell ||
                 e2e::text_of(rows[i], "commandLine") != ExecutingLoop::command_line())) {
                wrong_rows.push_back(e2e::text_of(rows[i], "executablePath") + " ran " +
                                     e2e::text_of(rows[i], "commandLine"));
            }
        }
    }
    test_support::end_child(stable);
    EXPECT_EQ(stable_found, runs) << testing::PrintToString(stable_outcomes);
    EXPECT_TRUE(other_outcomes.empty()) << testing::PrintToString(other_outcomes);
    EXPECT_TRUE(wrong_rows.empty()) << testing::PrintToString(wrong_rows);
}

// Twenty processes killed while one run looks at them, at a different moment each run: the
// stable process beside them is found every time, and each killed one is found or not_found.
TEST(Motion, ProcessesKilledDuringARunAreFoundOrNotFound) {
    constexpr std::size_t victims_per_run = 20;
    constexpr std::size_t victim_threads = 8;
    constexpr std::size_t victim_bytes = 8u << 20;
    const pid_t stable = test_support::fork_waiting_child();
    ASSERT_GT(stable, 0);
    std::minstd_rand random{20261210};

    // How long one run takes here, so that the kills can fall anywhere inside one.
    std::vector<pid_t> victims = children_with_memory(victims_per_run, victim_threads, victim_bytes);
    std::vector<pid_t> pids{stable};
    pids.insert(pids.end(), victims.begin(), victims.end());
    std::vector<long> durations;
    for (int i = 0; i < 5; ++i) {
        const auto before = Clock::now();
        e2e::run_tool(command_with("inspect", pids));
        durations.push_back(static_cast<long>(
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before)
                .count()));
    }
    std::sort(durations.begin(), durations.end());
    const long run_micros = durations[durations.size() / 2];
    for (const pid_t pid : victims) test_support::end_child(pid);

    // Every process here is a fork of this test program, with its command line.
    const std::vector<testing_support::JsonNode> own_rows =
        e2e::rows_of(e2e::run_tool(command_with("inspect", {::getpid()})));
    ASSERT_EQ(own_rows.size(), 1u);
    ASSERT_EQ(e2e::outcome_of(own_rows[0]), "found");
    const std::string command_line = e2e::text_of(own_rows[0], "commandLine");

    int runs = 0;
    std::vector<std::string> stable_outcomes;
    std::vector<std::string> victim_errors;
    std::vector<std::string> wrong_rows;
    const auto end = Clock::now() + time_per_test;
    while (runs < fewest_runs || Clock::now() < end) {
        const char* word = runs % 4 == 0 ? "inspect" : "sample";
        ++runs;
        victims = children_with_memory(victims_per_run, victim_threads, victim_bytes);
        pids.assign(1, stable);
        pids.insert(pids.end(), victims.begin(), victims.end());
        std::vector<Before> before;
        for (const pid_t pid : pids) before.push_back(read_before(pid));
        // One after the other across the length of a run, from a different start each time,
        // so that at any moment of the run some victim is on its way out.
        const auto first = std::chrono::microseconds(random() % (run_micros / 2 + 1));
        const auto spacing = std::chrono::microseconds(run_micros / victims_per_run + 1);
        std::thread killer{[&victims, first, spacing] {
            std::this_thread::sleep_for(first);
            for (const pid_t pid : victims) {
                ::kill(pid, SIGKILL);
                std::this_thread::sleep_for(spacing);
            }
        }};
        const e2e::RunResult run = e2e::run_tool(command_with(word, pids));
        killer.join();
        for (const pid_t pid : victims) ::waitpid(pid, nullptr, 0);

        const std::vector<testing_support::JsonNode> rows = e2e::rows_of(run);
        ASSERT_EQ(rows.size(), pids.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string outcome = e2e::outcome_of(rows[i]);
            if (outcome == "found") {
                const std::string wrong = wrong_figures(rows[i], before[i], command_line);
                if (!wrong.empty()) wrong_rows.push_back(word + (": " + wrong));
            }
            if (i == 0 && outcome != "found") stable_outcomes.push_back(word + (": " + outcome));
            if (i > 0 && outcome != "found" && outcome != "not_found") {
                victim_errors.push_back(word + (": " + outcome));
            }
        }
    }
    test_support::end_child(stable);
    EXPECT_TRUE(stable_outcomes.empty())
        << stable_outcomes.size() << " of " << runs << " runs: "
        << testing::PrintToString(stable_outcomes);
    EXPECT_TRUE(victim_errors.empty()) << testing::PrintToString(victim_errors);
    EXPECT_TRUE(wrong_rows.empty()) << wrong_rows.size() << " found rows with wrong figures: "
                                    << testing::PrintToString(wrong_rows);
}

}  // namespace
