// What a session keeps of the processes it read, seen from outside: a process read again costs
// two reads and nothing else (counted with strace, never timed) while the one-shot keeps
// nothing; a process that ended between two requests is not_found and an ID given to another
// process between them is read as that process, exactly as the one-shot answers at that moment;
// the descriptors a session holds stay within its share of the limit, give way to a reading
// that needs them, and are let go of by an idle session; an ID reused within one clock tick is
// told from the process that had it.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using test_support::Child;
using test_support::descriptors_naming;
using Words = std::vector<std::string>;

constexpr const char* strace_path = "/usr/bin/strace";

// How long the reading took is the one figure two runs may not share.
std::string without_windows(const std::string& document) {
    static const std::regex window{R"("windowMs":[0-9]+)"};
    return std::regex_replace(document, window, R"("windowMs":0)");
}

// The one-shot's document for these words, now.
std::string one_shot(const Words& words) {
    const e2e::RunResult run = e2e::run_tool(words);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

// The one row of a sample answer.
JsonNode only_row(const std::string& answer) {
    const auto document = testing_support::read_json_line(answer);
    const JsonNode* rows = document ? document->find("samples") : nullptr;
    if (rows == nullptr || rows->items.size() != 1) {
        ADD_FAILURE() << "not one sample row: " << answer;
        return {};
    }
    return rows->items[0];
}

// ---- System calls per reading

bool strace_works() {
    if (::access(strace_path, X_OK) != 0) return false;
    const std::string command = std::string{strace_path} + " -qq -o /dev/null /bin/true";
    return std::system(command.c_str()) == 0;
}

// The calls of a run under strace that concern reading processes, one line each.
std::vector<std::string> traced_calls(const Words& arguments, const std::string& input_file) {
    char log[] = "/tmp/zul-strace-XXXXXX";
    const int fd = ::mkstemp(log);
    EXPECT_GE(fd, 0);
    ::close(fd);
    // LeakSanitizer cannot run under a tracer; the leak checks belong to the untraced runs.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    e2e::RunOptions options;
    options.input_file = input_file;
    options.launcher = {"/usr/bin/env",
                        "ASAN_OPTIONS=" + std::string{sanitizer != nullptr ? sanitizer : ""} +
                            ":detect_leaks=0",
                        strace_path, "-f", "-qq", "-o", log, "-e",
                        "trace=openat,open,read,pread64,close,tgkill,write"};
    const e2e::RunResult run = e2e::run_tool(arguments, options);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> calls;
    std::ifstream lines{log};
    for (std::string line; std::getline(lines, line);) calls.push_back(line);
    ::unlink(log);
    return calls;
}

// The name of the call a strace line shows ("<pid>  name(...) = ...").
std::string call_name(const std::string& line) {
    const std::size_t open = line.find('(');
    const std::size_t start = line.find_last_of(' ', open);
    return line.substr(start == std::string::npos ? 0 : start + 1,
                       open - (start == std::string::npos ? 0 : start + 1));
}

TEST(SessionKeepingE2e, AProcessReadAgainCostsTwoReadsAndTheOneShotKeepsNothing) {
    if (!strace_works()) GTEST_SKIP() << "strace cannot trace here";
    std::vector<std::unique_ptr<Child>> children;
    Words sample{"sample"};
    for (int i = 0; i < 3; ++i) {
        children.push_back(std::make_unique<Child>());
        sample.push_back(children.back()->pid_text());
    }
    std::string line;
    for (const std::string& word : sample) line += (line.empty() ? "" : " ") + word;
    const e2e::TemporaryFolder folder{"zul-keeping"};
    const std::string input = folder.path() + "/input";
    constexpr int requests = 4;
    {
        std::ofstream file{input};
        for (int i = 0; i < requests; ++i) file << line << "\n";
    }

    // The calls made for each request: those before its answer, after the one before.
    std::vector<std::vector<std::string>> per_request(1);
    for (const std::string& call : traced_calls({"serve"}, input)) {
        if (call.find("write(1,") != std::string::npos) {
            per_request.emplace_back();
        } else {
            per_request.back().push_back(call_name(call));
        }
    }
    ASSERT_EQ(per_request.size(), requests + 1u) << "one answer per request";
    for (int request = 1; request < requests; ++request) {
        SCOPED_TRACE("request " + std::to_string(request + 1));
        EXPECT_EQ(per_request[static_cast<std::size_t>(request)],
                  std::vector<std::string>(2 * children.size(), "pread64"))
            << "stat and status of each process, and nothing else";
    }

    // The one-shot: for each process its directory, the signal check, stat and status each
    // opened, read and closed, and the directory closed; nothing read from a kept file. (From
    // the second process on: the first comes with the run's own checks of /proc.)
    const std::vector<std::string> calls = traced_calls(sample, {});
    const std::vector<std::string> per_process{"openat", "tgkill", "openat", "read", "close",
                                               "openat", "read",   "close",  "close"};
    std::vector<std::string> reading;
    bool reached = false;
    for (const std::string& call : calls) {
        reached = reached ||
                  call.find("\"/proc/" + children[1]->pid_text() + "\"") != std::string::npos;
        const std::string name = call_name(call);
        if (reached && name != "write") reading.push_back(name);
    }
    std::vector<std::string> expected;
    for (std::size_t i = 1; i < children.size(); ++i) {
        expected.insert(expected.end(), per_process.begin(), per_process.end());
    }
    EXPECT_EQ(reading, expected);
}

// ---- Ended processes and reused IDs

TEST(SessionKeepingE2e, AProcessThatEndsBetweenTwoRequestsIsNotFoundAsTheOneShotSays) {
    Child child;
    const pid_t pid = child.pid();
    const Words sample{"sample", child.pid_text()};
    e2e::ToolSession session;
    const auto ask = [&] {
        EXPECT_TRUE(session.send("sample " + std::to_string(pid) + "\n"));
        return session.answer();
    };
    ASSERT_EQ(only_row(ask()).find("status")->text, "found");
    EXPECT_EQ(descriptors_naming(session.pid(), pid), 3u) << "the session keeps it";

    // Killed, not yet reaped; then reaped.
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    while (test_support::state_of(pid) != 'Z') ::usleep(1000);
    EXPECT_EQ(without_windows(ask()), without_windows(one_shot(sample))) << "a zombie";
    child.end();
    const std::string answer = ask();
    EXPECT_EQ(answer, one_shot(sample)) << "reaped";
    EXPECT_EQ(only_row(answer).find("status")->text, "not_found");
    EXPECT_EQ(descriptors_naming(session.pid(), pid), 0u) << "nothing kept of it any more";
}

// ---- Descriptors

// Under a limit of 64 descriptors a session keeps at most 64 / 4 / 3 = 5 processes.
constexpr unsigned long low_limit = 64;
constexpr std::size_t kept_at_low_limit = 5;

e2e::RunOptions under_low_limit() {
    e2e::RunOptions options;
    options.open_files = low_limit;
    return options;
}

TEST(SessionKeepingE2e, ASessionMeetingManyProcessesKeepsOnlyItsShareOfDescriptors) {
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 0; i < 24; ++i) children.push_back(std::make_unique<Child>());
    e2e::ToolSession session{under_low_limit()};
    std::size_t most = 0;
    for (int round = 0; round < 2; ++round) {
        for (const auto& child : children) {
            ASSERT_TRUE(session.send("sample " + child->pid_text() + "\n"));
            ASSERT_EQ(only_row(session.answer()).find("status")->text, "found");
            std::size_t held = 0;
            for (const auto& other : children) {
                held += descriptors_naming(session.pid(), other->pid());
            }
            most = std::max(most, held);
        }
    }
    EXPECT_EQ(most, 3 * kept_at_low_limit);
}

// What a session has not read for ten seconds it lets go of, while other requests come as
// much as while it is idle (below), and not before.
TEST(SessionKeepingE2e, WhatASessionHasNotReadForTenSecondsItLetsGo) {
    Child child;
    Child other;
    e2e::ToolSession session;
    const auto ask = [&](const std::string& pid) {
        EXPECT_TRUE(session.send("sample " + pid + "\n"));
        return only_row(session.answer()).find("status")->text;
    };
    ASSERT_EQ(ask(child.pid_text()), "found");
    const auto read = std::chrono::steady_clock::now();
    ASSERT_EQ(descriptors_naming(session.pid(), child.pid()), 3u);
    // Requests every half second, so that the session never waits long enough to look while
    // idle: each request that opens a process looks.
    std::size_t at_nine_seconds = 0;
    for (auto next = read; next < read + std::chrono::milliseconds(11'500);) {
        next += std::chrono::milliseconds(500);
        std::this_thread::sleep_until(next);
        ASSERT_EQ(ask(other.pid_text()), "found");
        if (next <= read + std::chrono::seconds(9)) {
            at_nine_seconds = descriptors_naming(session.pid(), child.pid());
        }
    }
    EXPECT_EQ(at_nine_seconds, 3u) << "let go of too early";
    EXPECT_EQ(descriptors_naming(session.pid(), child.pid()), 0u);
}

// The descriptors a process holds, whatever they name.
std::size_t descriptors_of(pid_t holder) {
    std::size_t count = 0;
    const std::string folder = "/proc/" + std::to_string(holder) + "/fd";
    DIR* const listing = ::opendir(folder.c_str());
    if (listing == nullptr) return 0;
    while (const dirent* entry = ::readdir(listing)) count += entry->d_name[0] != '.';
    ::closedir(listing);
    return count;
}

// Processes read once and then ended: a session that is asked nothing more lets go of them
// within the 10 to 11 seconds its documentation gives, holding again what it held before.
TEST(SessionKeepingE2e, AnIdleSessionLetsGoOfProcessesThatEndedWithoutAnotherRequest) {
    constexpr std::size_t count = 1000;
    std::vector<std::unique_ptr<Child>> children;
    std::string line = "sample";
    for (std::size_t i = 0; i < count; ++i) {
        children.push_back(std::make_unique<Child>());
        line += " " + children.back()->pid_text();
    }
    e2e::ToolSession session;
    // What the session holds of its own once it has answered a request.
    ASSERT_TRUE(session.send("sample " + test_support::pid_nobody_has() + "\n"));
    ASSERT_FALSE(session.answer().empty());
    const std::size_t before = descriptors_of(session.pid());

    ASSERT_TRUE(session.send(line + "\n"));
    const std::string answer = session.answer();
    const auto answered = std::chrono::steady_clock::now();
    ASSERT_EQ(answer.find(R"("status":"not_found")"), std::string::npos) << answer;
    // Counted in one listing: a look per child would take seconds of the ten.
    ASSERT_EQ(descriptors_of(session.pid()), before + 3 * count)
        << "the session keeps each: its directory, stat and status";

    for (const auto& child : children) child->end();
    std::this_thread::sleep_until(answered + std::chrono::seconds(12));
    EXPECT_EQ(descriptors_of(session.pid()), before);
    // And it still answers.
    ASSERT_TRUE(session.send("sample " + test_support::pid_nobody_has() + "\n"));
    EXPECT_NE(session.answer().find(R"("status":"not_found")"), std::string::npos);
}

// inspect holds a directory for every process it finds until its row is written: with what a
// session keeps on top, a list that the one-shot can just read under the limit would run short.
TEST(SessionKeepingE2e, ReadingsThatNeedTheKeptDescriptorsGetThemAndAnswerAsTheOneShot) {
    std::vector<std::unique_ptr<Child>> kept;
    Words sample{"sample"};
    for (std::size_t i = 0; i < kept_at_low_limit; ++i) {
        kept.push_back(std::make_unique<Child>());
        sample.push_back(kept.back()->pid_text());
    }
    // As many as the one-shot finds under the limit, less a few for the sanitizer's runtime:
    // it holds a directory for each, and while descriptors are plentiful (the lower half of
    // them) a second one that watches the process's program.
    std::vector<std::unique_ptr<Child>> listed;
    Words inspect{"inspect"};
    for (unsigned long i = 0; i < low_limit * 3 / 4 - 8; ++i) {
        listed.push_back(std::make_unique<Child>());
        inspect.push_back(listed.back()->pid_text());
    }
    std::string sample_line;
    std::string inspect_line;
    for (const std::string& word : sample) sample_line += word + " ";
    for (const std::string& word : inspect) inspect_line += word + " ";
    const e2e::RunResult alone = e2e::run_tool(inspect, under_low_limit());
    ASSERT_EQ(alone.status, 0) << alone.err;
    ASSERT_EQ(alone.out.find("OPEN_PROCESS"), std::string::npos) << "the list is too long";

    e2e::ToolSession session{under_low_limit()};
    ASSERT_TRUE(session.send(sample_line + "\n"));
    ASSERT_FALSE(session.answer().empty());
    std::size_t held = 0;
    for (const auto& child : kept) held += descriptors_naming(session.pid(), child->pid());
    ASSERT_EQ(held, 3 * kept_at_low_limit) << "the session keeps them";

    ASSERT_TRUE(session.send(inspect_line + "\n"));
    EXPECT_EQ(session.answer(), alone.out);
}

// Where the test itself is PID 1 of a new PID namespace with a /proc of its own (and a user
// namespace that lets it choose the next PID): the namespace test below runs these there.
bool in_own_pid_namespace() { return std::getenv("ZUL_TEST_IN_OWN_PID_NAMESPACE") != nullptr; }

// A copy of this test program in the namespace, that has made 64 MiB of its memory resident
// and waits until it is killed.
pid_t fork_large_child() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        constexpr std::size_t size = 64 << 20;
        char* const block = static_cast<char*>(std::malloc(size));
        if (block == nullptr) ::_exit(1);
        std::memset(block, 1, size);
        for (;;) ::pause();
    }
    return pid;
}

TEST(SessionKeepingInOwnPidNamespace, AnIdGivenToAnotherProcessIsReadAsThatProcess) {
    if (!in_own_pid_namespace()) GTEST_SKIP() << "runs in the namespace the test below makes";
    e2e::ToolSession session;
    const pid_t first = fork_large_child();
    ASSERT_GT(first, 0);
    while (test_support::status_bytes(first, "VmRSS:") < (64u << 20)) ::usleep(1000);
    const std::string id = std::to_string(first);
    const auto ask = [&] {
        EXPECT_TRUE(session.send("sample " + id + "\n"));
        return session.answer();
    };
    const JsonNode read_first = only_row(ask());
    ASSERT_EQ(read_first.find("status")->text, "found");
    ASSERT_GE(read_first.find("rssBytes")->as_double(), 64.0 * (1 << 20));
    ASSERT_EQ(descriptors_naming(session.pid(), first), 3u) << "the session keeps it";

    // The first process goes, and the next process made here gets its ID.
    test_support::end_child(first);
    {
        std::ofstream last{"/proc/sys/kernel/ns_last_pid"};
        last << first - 1;
    }
    const pid_t second = test_support::fork_waiting_child();
    ASSERT_EQ(second, first) << "the ID was not given again";
    ASSERT_TRUE(test_support::settled(second));

    const std::string answer = ask();
    const JsonNode row = only_row(answer);
    EXPECT_EQ(row.find("status")->text, "found");
    EXPECT_EQ(row.find("cpuPercent")->kind, JsonNode::Kind::null) << "a first reading";
    EXPECT_EQ(row.find("rssBytes")->text,
              std::to_string(test_support::status_bytes(second, "VmRSS:")));
    EXPECT_EQ(row.find("systemPeakBytes")->text,
              std::to_string(test_support::status_bytes(second, "VmHWM:")));
    EXPECT_EQ(without_windows(answer), without_windows(one_shot({"sample", id})));
    test_support::end_child(second);
}

// The clock tick a process started in: field 22 of its stat.
std::string start_tick(pid_t pid) {
    const auto fields = test_support::stat_fields("/proc/" + std::to_string(pid) + "/stat");
    return fields.size() > 22 ? fields[22] : std::string{};
}

// A process read once, killed and reaped, and its ID given to the next process made here: when
// both started in the same clock tick (10 ms), ID and creation time alike say "the same
// process", and only the kept stat that no longer reads tells that the first was reaped. The
// second's first reading has no percentage, whatever the tick.
TEST(SessionKeepingInOwnPidNamespace, AnIdReusedWithinOneClockTickGetsNoPercentage) {
    if (!in_own_pid_namespace()) GTEST_SKIP() << "runs in the namespace the test below makes";
    e2e::ToolSession session;
    const auto ask = [&](pid_t pid) {
        EXPECT_TRUE(session.send("sample " + std::to_string(pid) + "\n"));
        return only_row(session.answer());
    };
    int same_tick = 0;
    int different_tick = 0;
    for (int trial = 0; trial < 200 && same_tick < 20; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const pid_t first = test_support::fork_waiting_child();
        ASSERT_GT(first, 0);
        ASSERT_EQ(ask(first).find("status")->text, "found");
        const std::string first_tick = start_tick(first);
        test_support::end_child(first);
        {
            std::ofstream last{"/proc/sys/kernel/ns_last_pid"};
            last << first - 1;
        }
        const pid_t second = test_support::fork_waiting_child();
        ASSERT_EQ(second, first) << "the ID was not given again";
        const bool same = start_tick(second) == first_tick;
        (same ? same_tick : different_tick) += 1;
        const JsonNode row = ask(second);
        EXPECT_EQ(row.find("status")->text, "found");
        EXPECT_EQ(row.find("cpuPercent")->kind, JsonNode::Kind::null)
            << (same ? "started in the same tick" : "started in another tick");
        test_support::end_child(second);
    }
    // Not a measure of speed: the case itself needs both starts within one tick.
    EXPECT_GT(same_tick, 0) << "no trial started both processes in one clock tick ("
                            << different_tick << " in different ones)";
}

TEST(SessionKeepingInOwnPidNamespace, NothingIsKeptWhereProcHidesProcesses) {
    if (!in_own_pid_namespace()) GTEST_SKIP() << "runs in the namespace the test below makes";
    Child child;
    e2e::ToolSession session;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(session.send("sample " + child.pid_text() + "\n"));
        EXPECT_EQ(only_row(session.answer()).find("status")->text, "found");
    }
    // The hidden case mounts /proc with hidepid=2 before the test starts.
    const bool hidden = std::getenv("ZUL_TEST_PROC_HIDES") != nullptr;
    EXPECT_EQ(descriptors_naming(session.pid(), child.pid()), hidden ? 0u : 3u);
}

std::string unshare_path() {
    for (const char* path : {"/usr/bin/unshare", "/bin/unshare"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

std::string this_program() {
    char path[4096];
    const auto length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string{path, static_cast<std::size_t>(length)} : std::string{};
}

// This program in a new user and PID namespace with a /proc of its own (mounted with
// `mount_options` when given), running one of the tests above there.
e2e::RunResult in_own_pid_namespace(const std::string& test, const std::string& mount_options) {
    std::string script;
    if (!mount_options.empty()) script += "mount -t proc -o " + mount_options + " proc /proc && ";
    script += "exec /usr/bin/env ZUL_TEST_IN_OWN_PID_NAMESPACE=1";
    if (!mount_options.empty()) script += " ZUL_TEST_PROC_HIDES=1";
    script += " \"$@\"";
    e2e::RunOptions options;
    options.launcher = {unshare_path(), "--user", "--map-root-user", "--pid", "--fork",
                        "--mount-proc", "/bin/sh", "-c", script, "sh"};
    options.program = this_program();
    // With standard input closed, the test's own files would take descriptor 0.
    options.input_file = "/dev/null";
    return e2e::run_tool({"--gtest_filter=SessionKeepingInOwnPidNamespace." + test}, options);
}

TEST(SessionKeepingE2e, ReusedIdsAndHiddenProcessesInAPidNamespaceOfItsOwn) {
    e2e::RunOptions trial;
    trial.launcher = {unshare_path(), "--user", "--map-root-user", "--pid", "--fork",
                      "--mount-proc", "/bin/true"};
    if (unshare_path().empty() || e2e::run_tool({}, trial).status != 0) {
        GTEST_SKIP() << "not permitted to make user and PID namespaces here";
    }
    const struct {
        const char* test;
        const char* mount_options;
    } cases[] = {
        {"AnIdGivenToAnotherProcessIsReadAsThatProcess", ""},
        {"AnIdReusedWithinOneClockTickGetsNoPercentage", ""},
        {"NothingIsKeptWhereProcHidesProcesses", ""},
        {"NothingIsKeptWhereProcHidesProcesses", "hidepid=2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string{c.test} + " " + c.mount_options);
        const e2e::RunResult run = in_own_pid_namespace(c.test, c.mount_options);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("SKIPPED"), std::string::npos) << run.out;
    }
}

}  // namespace
