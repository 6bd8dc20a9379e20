// A process whose main thread has ended shows its memory, executable and command line only
// through a thread that still runs. The tool looks for that thread only when the main thread
// has ended, once per row, and needs no more descriptors for it than for a plain read. The
// cost is shown by counting the system calls of a run under strace, never by timing it.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;

constexpr const char* strace_path = "/usr/bin/strace";

struct Row {
    std::string outcome;  // the status, or the code of an error row
    std::string command_line;
};

std::vector<Row> row_outcomes(const e2e::RunResult& run) {
    std::vector<Row> found;
    for (const JsonNode& row : e2e::rows_of(run)) {
        found.push_back({e2e::outcome_of(row), e2e::text_of(row, "commandLine")});
    }
    return found;
}

e2e::RunResult run(const std::string& command, const std::string& pid,
                   const e2e::RunOptions& options = {}) {
    return e2e::run_tool({command, pid}, options);
}

// One run of the tool under strace, and the system calls it made (one line each).
struct TracedRun {
    std::vector<Row> rows;
    std::vector<std::string> calls;

    // How many calls of `name` there were.
    std::size_t count(const std::string& name) const { return count_if(name, false); }

    // How many of them named a file of one thread: a relative path with a slash in it
    // ("task/<tid>/stat" from the process's directory, "<tid>/stat" from its task directory),
    // where the process's own files are a bare name and everything else an absolute path.
    std::size_t count_on_thread_files(const std::string& name) const {
        return count_if(name, true);
    }

private:
    std::size_t count_if(const std::string& name, bool thread_files_only) const {
        std::size_t found = 0;
        for (const std::string& line : calls) {
            const auto call = line.find(name + "(");
            if (call == std::string::npos || (call != 0 && line[call - 1] != ' ')) continue;
            const auto open = line.find('"', call);
            const auto close = open == std::string::npos ? open : line.find('"', open + 1);
            const std::string path =
                close == std::string::npos ? "" : line.substr(open + 1, close - open - 1);
            if (!thread_files_only ||
                (!path.empty() && path[0] != '/' && path.find('/') != std::string::npos)) {
                ++found;
            }
        }
        return found;
    }
};

bool strace_works() {
    if (::access(strace_path, X_OK) != 0) return false;
    const std::string command = std::string{strace_path} + " -qq -o /dev/null /bin/true";
    return std::system(command.c_str()) == 0;
}

TracedRun traced(const std::string& command, const std::string& pid, const std::string& calls,
                 const std::vector<std::string>& launcher = {}, const std::string& program = {}) {
    char log[] = "/tmp/zul-strace-XXXXXX";
    const int fd = ::mkstemp(log);
    EXPECT_GE(fd, 0);
    ::close(fd);
    // LeakSanitizer cannot run under a tracer; the leak checks belong to the untraced runs.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    e2e::RunOptions options;
    options.launcher = {"/usr/bin/env",
                        "ASAN_OPTIONS=" + std::string{sanitizer != nullptr ? sanitizer : ""} +
                            ":detect_leaks=0",
                        strace_path, "-f", "-qq", "-o", log, "-e", "trace=" + calls};
    options.launcher.insert(options.launcher.end(), launcher.begin(), launcher.end());
    options.program = program;
    TracedRun result;
    result.rows = row_outcomes(run(command, pid, options));
    std::ifstream lines{log};
    for (std::string line; std::getline(lines, line);) result.calls.push_back(line);
    ::unlink(log);
    return result;
}

// A running process, and one whose main thread has ended, read under a range of descriptor
// limits: at each limit both come out alike (the ended main thread costs no descriptor), and
// a command line that could not be read is never taken for an empty one.
TEST(ThreadWalk, HalfExitedProcessNeedsNoMoreDescriptorsThanARunningOne) {
    e2e::AwkwardChild running{{"threads", "2"}};
    ASSERT_TRUE(running.says("ready"));
    e2e::AwkwardChild half{{"half-exited"}};
    ASSERT_TRUE(half.says("ready"));
    const std::string half_command_line = e2e::awkward_process_path() + " half-exited";

    // The sanitizer runtimes need descriptors of their own (a pipe to check memory before they
    // report); below that a run says nothing of the tool.
    const unsigned long fewest = e2e::tool_has_sanitizers() ? 8 : 3;
    for (unsigned long limit = fewest; limit <= 12; ++limit) {
        for (const char* command : {"sample", "inspect"}) {
            SCOPED_TRACE(std::string{command} + " with " + std::to_string(limit) +
                         " descriptors");
            e2e::RunOptions options;
            options.open_files = limit;
            const std::vector<Row> plain = row_outcomes(run(command, running.pid_text(), options));
            const std::vector<Row> ended = row_outcomes(run(command, half.pid_text(), options));
            ASSERT_EQ(plain.size(), 1u);
            ASSERT_EQ(ended.size(), 1u);
            EXPECT_EQ(ended[0].outcome, plain[0].outcome);
            EXPECT_NE(ended[0].outcome, "WMI_COMMAND_LINE");
            if (std::string{command} == "inspect" && ended[0].outcome == "found") {
                EXPECT_EQ(ended[0].command_line, half_command_line);
            }
        }
    }
}

// A process that emptied its own argument range and then ended its main thread has an empty
// command line for good: the row says so at once, with no wait for an execve to finish.
TEST(ThreadWalk, HalfExitedProcessWithAnEmptyCommandLineIsAnsweredWithoutWaiting) {
    if (!strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
    e2e::AwkwardChild silent{{"half-exited", "empty-arguments"}};
    if (!silent.says("ready")) {
        GTEST_SKIP() << "this kernel does not let a process move its own argument area";
    }
    const TracedRun inspected = traced("inspect", silent.pid_text(), "nanosleep,clock_nanosleep");
    ASSERT_EQ(inspected.rows.size(), 1u);
    EXPECT_EQ(inspected.rows[0].outcome, "WMI_COMMAND_LINE");
    EXPECT_EQ(inspected.count("nanosleep") + inspected.count("clock_nanosleep"), 0u);
}

// Another user's process keeps its executable from us. While its main thread runs, that
// refusal is the answer: none of its threads is read, however many it has.
TEST(ThreadWalk, AnotherUsersRunningProcessIsNotWalked) {
    if (!strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
    if (::geteuid() != 0) GTEST_SKIP() << "only root may run the tool as nobody";
    const e2e::ToolCopy tool;
    ASSERT_FALSE(tool.path().empty());
    e2e::AwkwardChild busy{{"threads", "300"}};
    ASSERT_TRUE(busy.says("ready"));

    const TracedRun inspected =
        traced("inspect", busy.pid_text(), "openat,readlinkat", e2e::as_nobody, tool.path());
    ASSERT_EQ(inspected.rows.size(), 1u);
    EXPECT_EQ(inspected.rows[0].outcome, "PROCESS_PATH");
    EXPECT_EQ(inspected.count_on_thread_files("readlinkat"), 0u);
    EXPECT_EQ(inspected.count_on_thread_files("openat"), 0u);
}

// A process whose exited threads a tracer keeps as zombies, listed before the one thread that
// still runs. Each row finds that thread once and reads through it from then on, so a row
// costs one read per thread, not one for each file the row needs.
TEST(ThreadWalk, ZombieThreadsAreReadOncePerRow) {
    if (!strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
    // The tracer ends first (members go in reverse), so the zombies are reaped with the rest.
    struct Kept {
        std::unique_ptr<e2e::AwkwardChild> process;
        std::unique_ptr<e2e::AwkwardChild> tracer;
    };
    const auto keep = [](std::size_t zombies) -> std::optional<Kept> {
        Kept kept;
        kept.process = std::make_unique<e2e::AwkwardChild>(
            std::vector<std::string>{"zombie-threads", std::to_string(zombies)});
        if (!kept.process->says("threads")) return std::nullopt;
        kept.tracer = std::make_unique<e2e::AwkwardChild>(
            std::vector<std::string>{"trace", kept.process->pid_text()});
        if (!kept.tracer->says("seized")) return std::nullopt;
        kept.process->nudge();
        if (!kept.process->says("ready")) return std::nullopt;
        return kept;
    };
    constexpr std::size_t fewer = 50;
    constexpr std::size_t more = 250;
    std::optional<Kept> small = keep(fewer);
    if (!small) GTEST_SKIP() << "may not trace another process's threads here";
    std::optional<Kept> large = keep(more);
    ASSERT_TRUE(large.has_value());

    for (const char* command : {"sample", "inspect"}) {
        SCOPED_TRACE(command);
        const TracedRun few = traced(command, small->process->pid_text(), "openat,readlinkat");
        const TracedRun many = traced(command, large->process->pid_text(), "openat,readlinkat");
        ASSERT_EQ(few.rows.size(), 1u);
        ASSERT_EQ(many.rows.size(), 1u);
        EXPECT_EQ(few.rows[0].outcome, "found");
        EXPECT_EQ(many.rows[0].outcome, "found");
        const auto reads = [](const TracedRun& traced_run) {
            return traced_run.count_on_thread_files("openat") +
                   traced_run.count_on_thread_files("readlinkat");
        };
        EXPECT_EQ(reads(many) - reads(few), more - fewer)
            << reads(few) << " reads of thread files with " << fewer << " zombie threads, "
            << reads(many) << " with " << more;
    }
}

}  // namespace
