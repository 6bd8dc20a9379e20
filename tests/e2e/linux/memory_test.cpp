// The built tool's peak resident memory against the size of the document it writes, over the
// inputs that cost the most per byte written: command lines of about 2 MB of every kind of
// byte, and lists of 100,000 IDs. The peak stays within three times the document and 1 MiB,
// beyond what the tool takes for a run of one ID; an ID given again adds at most 64 bytes.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/stopped_shell.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"

namespace {

constexpr std::uint64_t mib = 1024 * 1024;

struct Measured {
    e2e::RunResult run;
    std::uint64_t peak_bytes = 0;
};

// Run through the launcher, which forks the tool from its own small process and reads the
// tool's peak from wait4.
Measured run_measured(const std::vector<std::string>& arguments) {
    std::FILE* report = std::tmpfile();
    e2e::RunOptions options;
    options.launcher = {ZUL_PEAK_MEMORY_PATH, std::to_string(::fileno(report))};
    Measured measured{e2e::run_tool(arguments, options)};
    std::rewind(report);
    unsigned long kib = 0;
    if (std::fscanf(report, "%lu", &kib) == 1) measured.peak_bytes = kib * 1024;
    std::fclose(report);
    return measured;
}

// IDs from pid_max up, which nobody can have.
std::vector<std::string> nobody(std::size_t count) {
    std::vector<std::string> pids;
    for (std::uint64_t pid = test_support::pid_max(); pids.size() < count; ++pid) {
        pids.push_back(std::to_string(pid));
    }
    return pids;
}

// About 1.97 MB of one byte: 20 arguments, as one holds at most 128 KiB.
std::vector<std::string> long_arguments(char byte) {
    return std::vector<std::string>(20, std::string(98'500, byte));
}

struct Case {
    const char* label;
    std::vector<std::string> arguments;
    std::size_t repeated_arguments = 0;
};

TEST(MemoryE2e, PeakStaysWithinThreeTimesTheDocument) {
    if (e2e::tool_has_sanitizers()) {
        GTEST_SKIP() << "AddressSanitizer keeps freed memory aside and adds its own to every block";
    }
    const e2e::StoppedShell letters{long_arguments('a')};
    const e2e::StoppedShell quotes{long_arguments('\'')};  // each shown as '\''
    const e2e::StoppedShell controls{long_arguments('\x01')};  // each written as \u0001
    const e2e::StoppedShell not_utf8{long_arguments('\xff')};  // each becomes U+FFFD
    for (const e2e::StoppedShell* holder : {&letters, &quotes, &controls, &not_utf8}) {
        ASSERT_GT(holder->pid(), 0);
    }
    const e2e::ChildPool children{200};
    std::vector<std::string> spread_children = nobody(100'000);
    const std::vector<pid_t> live = children.pids();
    for (std::size_t i = 0; i < live.size(); ++i) spread_children[i * 500] = std::to_string(live[i]);

    const auto with = [](const char* command, std::vector<std::string> pids) {
        pids.insert(pids.begin(), command);
        return pids;
    };
    const std::vector<Case> cases = {
        {"letters", {"inspect", letters.pid_text()}},
        {"single quotes", {"inspect", quotes.pid_text()}},
        {"control characters", {"inspect", controls.pid_text()}},
        {"bytes that are not UTF-8", {"inspect", not_utf8.pid_text()}},
        {"all four", {"inspect", letters.pid_text(), quotes.pid_text(), controls.pid_text(),
                      not_utf8.pid_text()}},
        {"sample of 100,000 IDs of nobody", with("sample", nobody(100'000))},
        {"inspect of 100,000 IDs of nobody", with("inspect", nobody(100'000))},
        {"sample of 100,000 IDs, 200 live", with("sample", spread_children)},
        {"inspect of 100,000 IDs, 200 live", with("inspect", spread_children)},
        {"sample of one ID 100,000 times",
         with("sample", std::vector<std::string>(100'000, nobody(1)[0])), 99'999},
        {"inspect of one ID 100,000 times",
         with("inspect", std::vector<std::string>(100'000, nobody(1)[0])), 99'999},
    };
    // What the tool takes whatever it is asked: its code, libraries and start-up.
    std::map<std::string, std::uint64_t> fixed;
    for (const char* command : {"sample", "inspect"}) {
        const Measured one = run_measured({command, nobody(1)[0]});
        ASSERT_EQ(one.run.status, 0) << one.run.err;
        ASSERT_GT(one.peak_bytes, 0u);
        fixed[command] = one.peak_bytes;
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Measured measured = run_measured(c.arguments);
        ASSERT_EQ(measured.run.status, 0) << measured.run.err;
        // Every row found or not_found: none says what it could not read (the documents
        // themselves are checked elsewhere; read here they would take most of the time).
        EXPECT_TRUE(measured.run.out.ends_with("]}\n"));
        EXPECT_EQ(measured.run.out.find("\"code\":"), std::string::npos)
            << measured.run.out.substr(0, 200);
        const std::uint64_t one_id = fixed[c.arguments[0]];
        const std::uint64_t bound =
            3 * measured.run.out.size() + one_id + mib + 64 * c.repeated_arguments;
        EXPECT_LE(measured.peak_bytes, bound)
            << "peak " << measured.peak_bytes / 1024 << " KiB for a document of "
            << measured.run.out.size() / 1024 << " KiB, a run of one ID " << one_id / 1024
            << " KiB";
    }
}

}  // namespace
