// The tool started in a hostile environment: standard streams closed or refusing, a
// diagnostics switch and arguments that are not UTF-8. Each ends with its documented status,
// never a crash and never a partial document.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "e2e/linux/stopped_shell.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;

std::string own_pid() { return std::to_string(::getpid()); }

struct StreamCase {
    const char* label;
    std::vector<std::string> arguments;
    e2e::Output output;
    bool stderr_closed;
    int status;
};

TEST(HostileEnvironment, ClosedOrRefusingStreamsEndWithTheirStatus) {
    const std::vector<StreamCase> cases = {
        // Nothing is written to a closed standard error on success.
        {"stderr closed, sample", {"sample", own_pid()}, e2e::Output::captured, true, 0},
        {"stderr closed, inspect", {"inspect", own_pid()}, e2e::Output::captured, true, 0},
        // The usage line cannot be written.
        {"stderr closed, usage", {"Sample", own_pid()}, e2e::Output::captured, true, 101},
        {"stderr closed, bad ID", {"inspect", "x"}, e2e::Output::captured, true, 101},
        {"both closed", {"sample", own_pid()}, e2e::Output::closed, true, 101},
        {"stdout full, inspect", {"inspect", own_pid()}, e2e::Output::full_device, false, 101},
        {"stdout a closed pipe, inspect", {"inspect", own_pid()}, e2e::Output::closed_pipe, false,
         101},
        {"stdout closed, inspect", {"inspect", own_pid()}, e2e::Output::closed, false, 101},
    };
    for (const StreamCase& each : cases) {
        SCOPED_TRACE(each.label);
        e2e::RunOptions options;
        options.output = each.output;
        options.stderr_closed = each.stderr_closed;
        const e2e::RunResult run = e2e::run_tool(each.arguments, options);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, each.status) << run.err;
        if (each.output != e2e::Output::captured) continue;
        if (each.status == 0) {
            EXPECT_TRUE(testing_support::read_json_line(run.out).has_value()) << run.out;
        } else {
            EXPECT_EQ(run.out, "");
        }
    }
}

// A parent may hand over a non-blocking pipe: the tool waits for room instead of giving up at
// the pipe's capacity (64 KiB), and the whole document arrives.
TEST(HostileEnvironment, NonBlockingPipeWithASlowReaderGetsTheWholeDocument) {
    constexpr std::uint32_t first_missing = 4000000000u;
    // About 270 KiB of sample rows, 200 KiB of inspect rows.
    const std::vector<std::pair<std::string, std::size_t>> cases = {{"sample", 1500},
                                                                     {"inspect", 6000}};
    for (const auto& [command, missing_count] : cases) {
        SCOPED_TRACE(command);
        std::vector<std::string> arguments{command, own_pid()};
        for (std::size_t index = 0; index < missing_count; ++index) {
            arguments.push_back(std::to_string(first_missing + index));
        }
        e2e::RunOptions options;
        options.output = e2e::Output::slow_nonblocking_pipe;
        options.diagnostics = "1";
        const e2e::RunResult run = e2e::run_tool(arguments, options);
        EXPECT_EQ(run.signal, 0);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_GT(run.out.size(), 128u * 1024u);
        ASSERT_FALSE(run.out.empty());
        EXPECT_EQ(run.out.back(), '\n');
        const auto document = testing_support::read_json_line(run.out);
        ASSERT_TRUE(document.has_value()) << run.out.substr(0, 200) << "...";
        const JsonNode* rows = document->find(command == "sample" ? "samples" : "processes");
        ASSERT_NE(rows, nullptr);
        ASSERT_EQ(rows->items.size(), missing_count + 1);
        EXPECT_EQ(rows->items.back().find("pid")->as_unsigned(),
                  first_missing + missing_count - 1);
    }
}

// Memory can run out anywhere in a run: at every limit the run ends with the whole document or
// with exactly the out-of-memory message and status 101, never a crash or part of a document.
TEST(HostileEnvironment, RunningOutOfMemoryEndsCleanlyAtAnyLimit) {
    if (e2e::tool_has_sanitizers()) {
        GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory at start, so a program "
                        "built with it cannot run under an address-space limit at all";
    }
    // Enough rows that the document's values and text need a few MiB.
    constexpr std::uint32_t first_missing = 4000000000u;
    std::vector<std::string> pids{own_pid()};
    for (std::uint32_t index = 0; index < 4000; ++index) {
        pids.push_back(std::to_string(first_missing + index));
    }
    const auto run_with = [&](const std::string& command, unsigned long limit) {
        std::vector<std::string> arguments{command};
        arguments.insert(arguments.end(), pids.begin(), pids.end());
        e2e::RunOptions options;
        options.address_space_bytes = limit;
        return e2e::run_tool(arguments, options);
    };

    // Below some limit the loader or the C library cannot start the program at all, before any
    // of the tool's code runs. Find that floor with the same command line refused ("Sample" is
    // no command), which reads every argument and allocates little else.
    const auto starts = [&](unsigned long limit) {
        const e2e::RunResult run = run_with("Sample", limit);
        return run.status == 1 && run.err.starts_with("usage: ");
    };
    constexpr unsigned long step = 64 * 1024;
    unsigned long too_small = 4 * step;
    unsigned long enough = 1024ul * 1024 * 1024;
    ASSERT_TRUE(starts(enough));
    ASSERT_FALSE(starts(too_small));
    while (enough - too_small > step) {
        const unsigned long middle = (too_small + enough) / 2 / step * step;
        (starts(middle) ? enough : too_small) = middle;
    }

    int out_of_memory = 0;
    int complete = 0;
    for (const unsigned long extra :
         {0ul, step, 4 * step, 8 * step, 16 * step, 32 * step, 64 * step, 256 * step,
          4096 * step}) {
        for (const char* command : {"sample", "inspect"}) {
            SCOPED_TRACE(std::string{command} + " at " + std::to_string((enough + extra) / 1024) +
                         " KiB");
            const e2e::RunResult run = run_with(command, enough + extra);
            ASSERT_EQ(run.signal, 0);
            if (run.status == 0) {
                const auto document = testing_support::read_json_line(run.out);
                ASSERT_TRUE(document.has_value()) << run.out.substr(0, 200);
                const JsonNode* rows =
                    document->find(command == std::string{"sample"} ? "samples" : "processes");
                ASSERT_NE(rows, nullptr);
                EXPECT_EQ(rows->items.size(), pids.size());
                EXPECT_EQ(run.err, "");
                ++complete;
            } else {
                EXPECT_EQ(run.status, 101) << run.err;
                EXPECT_EQ(run.err, "out of memory\n");
                EXPECT_EQ(run.out, "");
                ++out_of_memory;
            }
        }
    }
    EXPECT_GT(out_of_memory, 0);
    EXPECT_GT(complete, 0);
}

// The command-line query runs inside the tool on Linux, so the texts it hands out are the
// tool's own memory: a command line too long for the limit ends the run like any other
// shortage. Never a document whose rows say that a command line could not be read, the rows of
// ordinary processes in the same run included.
TEST(HostileEnvironment, RunningOutOfMemoryInTheQueryEndsTheRun) {
    if (e2e::tool_has_sanitizers()) {
        GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory at start, so a program "
                        "built with it cannot run under an address-space limit at all";
    }
    // About 1.97 MB of single quotes (an argument holds at most 128 KiB), each of which the
    // command line shows as four bytes: '\''.
    constexpr std::size_t quotes_per_argument = 98'500;
    const std::vector<std::string> arguments(20, std::string(quotes_per_argument, '\''));
    const e2e::StoppedShell holder{arguments};
    ASSERT_GT(holder.pid(), 0);
    std::string shown_argument = "'";
    for (std::size_t i = 0; i < quotes_per_argument; ++i) shown_argument += "'\\''";
    shown_argument += "'";
    std::string expected{e2e::StoppedShell::shown_words};
    for (std::size_t i = 0; i < arguments.size(); ++i) expected += " " + shown_argument;

    int out_of_memory = 0;
    int complete = 0;
    for (const unsigned long kib : {12'000ul, 15'000ul, 20'000ul, 40'000ul, 80'000ul, 160'000ul}) {
        SCOPED_TRACE(std::to_string(kib) + " KiB");
        e2e::RunOptions options;
        options.address_space_bytes = kib * 1024;
        const e2e::RunResult run = e2e::run_tool({"inspect", own_pid(), holder.pid_text()}, options);
        ASSERT_EQ(run.signal, 0);
        if (run.status != 0) {
            EXPECT_EQ(run.status, 101) << run.err;
            EXPECT_EQ(run.err, "out of memory\n");
            EXPECT_EQ(run.out, "");
            ++out_of_memory;
            continue;
        }
        EXPECT_EQ(run.err, "");
        const auto document = testing_support::read_json_line(run.out);
        ASSERT_TRUE(document.has_value()) << run.out.substr(0, 200);
        const JsonNode* rows = document->find("processes");
        ASSERT_NE(rows, nullptr);
        ASSERT_EQ(rows->items.size(), 2u);
        for (const JsonNode& row : rows->items) {
            EXPECT_EQ(row.find("status")->text, "found") << run.out.substr(0, 200);
        }
        const JsonNode* held = rows->items[1].find("commandLine");
        ASSERT_NE(held, nullptr);
        EXPECT_TRUE(held->text == expected) << "a command line of " << held->text.size()
                                            << " bytes, not " << expected.size();
        ++complete;
    }
    EXPECT_GT(out_of_memory, 0);
    EXPECT_GT(complete, 0);
}

TEST(HostileEnvironment, DiagnosticsSwitchThatIsNotUtf8IsOff) {
    for (const char* value : {"\xff", "1\xff", "tru\xc3", "\xc0\xb1", "\xed\xa0\x80"}) {
        SCOPED_TRACE(testing::PrintToString(std::string{value}));
        e2e::RunOptions options;
        options.diagnostics = value;
        for (const char* command : {"sample", "inspect"}) {
            const e2e::RunResult run = e2e::run_tool({command, own_pid()}, options);
            ASSERT_EQ(run.status, 0) << run.err;
            const auto document = testing_support::read_json_line(run.out);
            ASSERT_TRUE(document.has_value()) << run.out;
            ASSERT_EQ(document->members.size(), 1u) << run.out;
            EXPECT_NE(document->members[0].first, "diagnostics");
        }
    }
}

// Bytes that are not UTF-8 are neither a command word nor a process ID: the first bad argument
// decides the message, as it does for any other text.
TEST(HostileEnvironment, ArgumentsThatAreNotUtf8AreRefusedInOrder) {
    const std::string usage = "usage: zul-process <inspect|sample> <pid> [pid...]\n";
    const std::string not_decimal = "process IDs must be positive decimal integers\n";
    const std::string zero = "process ID must be positive\n";
    const std::string range = "process ID out of range\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"inspect", "1\xff"}, not_decimal},
        {{"sample\xc3", "1"}, usage},
        {{"\xff"}, usage},
        {{"bogus", "\xff"}, usage},
        {{"sample", "\xff"}, not_decimal},
        {{"sample", "1", "\xc0\xb1"}, not_decimal},      // an overlong "1"
        {{"inspect", "\xed\xa0\x80", "1"}, not_decimal},  // an encoded surrogate
        {{"sample", "0", "\xfe"}, zero},
        {{"sample", "abc", "\xff"}, not_decimal},
        {{"inspect", "4294967296", "\xff"}, range},
        {{"sample", "0", "\xff"}, zero},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const e2e::RunResult run = e2e::run_tool(arguments);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, message);
    }
}

}  // namespace
