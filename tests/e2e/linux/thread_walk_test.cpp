// A process whose main thread has ended shows its memory, executable and command line only
// through a thread that still runs. The tool looks for that thread only when the main thread
// has ended, once per row, and needs no more descriptors for it than for a plain read. The
// cost is shown by counting the system calls of a run under strace, never by timing it.

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "e2e/linux/traced_run.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;

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

// One run under strace: its rows and the system calls it made.
struct TracedRows {
    std::vector<Row> rows;
    e2e::TracedRun calls;
};

TracedRows traced(const std::string& command, const std::string& pid, const std::string& calls,
                  const std::vector<std::string>& launcher = {},
                  const std::string& program = {}) {
    TracedRows result;
    result.calls = e2e::traced_run({command, pid}, calls, launcher, program);
    result.rows = row_outcomes(result.calls.run);
    return result;
}

// A running process, and one whose main thread has ended, read under a range of descriptor
// limits: at each limit both come out alike (the ended main thread costs no descriptor), a
// command line that could not be read is never taken for an empty one, and with the most
// descriptors both are found.
TEST(ThreadWalk, HalfExitedProcessNeedsNoMoreDescriptorsThanARunningOne) {
    e2e::AwkwardChild running{{"threads", "2"}};
    ASSERT_TRUE(running.says("ready"));
    e2e::AwkwardChild half{{"half-exited"}};
    ASSERT_TRUE(half.says("ready"));
    const std::string half_command_line = e2e::awkward_process_path() + " half-exited";

    // The sanitizer runtimes need descriptors of their own (a pipe to check memory before they
    // report); below that a run says nothing of the tool.
    const unsigned long fewest = e2e::tool_has_sanitizers() ? 8 : 3;
    constexpr unsigned long most = 12;
    for (unsigned long limit = fewest; limit <= most; ++limit) {
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
            if (limit == most) {
                EXPECT_EQ(ended[0].outcome, "found");
            }
            if (std::string{command} == "inspect" && ended[0].outcome == "found") {
                EXPECT_EQ(ended[0].command_line, half_command_line);
            }
        }
    }
}

// A process that emptied its own argument range and then ended its main thread has an empty
// command line for good: the row says so at once, with no wait for an execve to finish.
TEST(ThreadWalk, HalfExitedProcessWithAnEmptyCommandLineIsAnsweredWithoutWaiting) {
    if (!e2e::strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
    e2e::AwkwardChild silent{{"half-exited", "empty-arguments"}};
    if (!silent.says("ready")) {
        GTEST_SKIP() << "this kernel does not let a process move its own argument area";
    }
    const TracedRows inspected = traced("inspect", silent.pid_text(), "nanosleep,clock_nanosleep");
    ASSERT_EQ(inspected.rows.size(), 1u);
    EXPECT_EQ(inspected.rows[0].outcome, "WMI_COMMAND_LINE");
    EXPECT_EQ(inspected.calls.count("nanosleep") + inspected.calls.count("clock_nanosleep"), 0u);
}

// Another user's process keeps its executable from us. While its main thread runs, that
// refusal is the answer: none of its threads is read, however many it has.
TEST(ThreadWalk, AnotherUsersRunningProcessIsNotWalked) {
    if (!e2e::strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
    if (::geteuid() != 0) GTEST_SKIP() << "only root may run the tool as nobody";
    const e2e::ToolCopy tool;
    ASSERT_FALSE(tool.path().empty());
    e2e::AwkwardChild busy{{"threads", "300"}};
    ASSERT_TRUE(busy.says("ready"));

    const TracedRows inspected =
        traced("inspect", busy.pid_text(), "openat,readlinkat", e2e::as_nobody, tool.path());
    ASSERT_EQ(inspected.rows.size(), 1u);
    EXPECT_EQ(inspected.rows[0].outcome, "PROCESS_PATH");
    EXPECT_EQ(inspected.calls.count_on_thread_files("readlinkat"), 0u);
    EXPECT_EQ(inspected.calls.count_on_thread_files("openat"), 0u);
}

// A process whose exited threads a tracer keeps as zombies, listed before the one thread that
// still runs. Each row finds that thread once and reads through it from then on, so a row
// costs one read per thread, not one for each file the row needs.
TEST(ThreadWalk, ZombieThreadsAreReadOncePerRow) {
    if (!e2e::strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
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
        const TracedRows few = traced(command, small->process->pid_text(), "openat,readlinkat");
        const TracedRows many = traced(command, large->process->pid_text(), "openat,readlinkat");
        ASSERT_EQ(few.rows.size(), 1u);
        ASSERT_EQ(many.rows.size(), 1u);
        EXPECT_EQ(few.rows[0].outcome, "found");
        EXPECT_EQ(many.rows[0].outcome, "found");
        const auto reads = [](const TracedRows& one) {
            return one.calls.count_on_thread_files("openat") +
                   one.calls.count_on_thread_files("readlinkat");
        };
        EXPECT_EQ(reads(many) - reads(few), more - fewer)
            << reads(few) << " reads of thread files with " << fewer << " zombie threads, "
            << reads(many) << " with " << more;
    }
}

}  // namespace
