// One run of the tool while the processes it looks at end or execute: a process that stays put
// beside them is found in every run, whatever the others do, and a process killed at any moment
// is found or not_found, never an error row. Each test is bounded in time, not in runs, so a
// slow build (the sanitizers) makes fewer runs rather than a longer test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fcntl.h>
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
    ExecutingLoop() {
        std::string script = "exec /proc/self/exe -c \"$0\" \"$0\"";
        std::string shell = "/bin/sh";
        std::string flag = "-c";
        char* argv[] = {shell.data(), flag.data(), script.data(), script.data(), nullptr};
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

std::vector<std::string> command_with(const char* word, const std::vector<pid_t>& pids) {
    std::vector<std::string> arguments{word};
    for (const std::string& pid : e2e::as_arguments(pids)) arguments.push_back(pid);
    return arguments;
}

// One process executing itself beside a stable one made every row of the stable one fail
// (a null command line failed the whole query). The executing ones are found, or, when they
// executed between the looks at them, "PROCESS_CHANGED"; never another error.
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

    int runs = 0;
    int stable_found = 0;
    std::vector<std::string> stable_outcomes;
    std::vector<std::string> other_outcomes;
    const auto end = Clock::now() + time_per_test;
    while (runs < fewest_runs || Clock::now() < end) {
        ++runs;
        const std::vector<std::string> outcomes =
            e2e::outcomes_of(e2e::run_tool(command_with("inspect", pids)));
        ASSERT_EQ(outcomes.size(), pids.size());
        if (outcomes[0] == "found") {
            ++stable_found;
        } else {
            stable_outcomes.push_back(outcomes[0]);
        }
        for (std::size_t i = 1; i < outcomes.size(); ++i) {
            if (outcomes[i] != "found" && outcomes[i] != "PROCESS_CHANGED") {
                other_outcomes.push_back(outcomes[i]);
            }
        }
    }
    test_support::end_child(stable);
    EXPECT_EQ(stable_found, runs) << testing::PrintToString(stable_outcomes);
    EXPECT_TRUE(other_outcomes.empty()) << testing::PrintToString(other_outcomes);
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

    int runs = 0;
    std::vector<std::string> stable_outcomes;
    std::vector<std::string> victim_errors;
    const auto end = Clock::now() + time_per_test;
    while (runs < fewest_runs || Clock::now() < end) {
        const char* word = runs % 4 == 3 ? "sample" : "inspect";
        ++runs;
        victims = children_with_memory(victims_per_run, victim_threads, victim_bytes);
        pids.assign(1, stable);
        pids.insert(pids.end(), victims.begin(), victims.end());
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

        const std::vector<std::string> outcomes = e2e::outcomes_of(run);
        ASSERT_EQ(outcomes.size(), pids.size());
        if (outcomes[0] != "found") stable_outcomes.push_back(word + (": " + outcomes[0]));
        for (std::size_t i = 1; i < outcomes.size(); ++i) {
            if (outcomes[i] != "found" && outcomes[i] != "not_found") {
                victim_errors.push_back(word + (": " + outcomes[i]));
            }
        }
    }
    test_support::end_child(stable);
    EXPECT_TRUE(stable_outcomes.empty())
        << stable_outcomes.size() << " of " << runs << " runs: "
        << testing::PrintToString(stable_outcomes);
    EXPECT_TRUE(victim_errors.empty()) << testing::PrintToString(victim_errors);
}

}  // namespace
