// The tool where /proc is not the one a plain run sees: a new PID namespace that still sees the
// host's /proc, a /proc that shows only processes (mount option subset=pid), and a tmpfs
// mounted over /proc in a private mount namespace. Setting these up needs the right to make
// namespaces and mounts (root in CI); where it is refused, the test says so and skips.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

extern char** environ;

namespace {

using testing_support::JsonNode;
using Kind = JsonNode::Kind;

std::string unshare_path() {
    for (const char* path : {"/usr/bin/unshare", "/bin/unshare"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

// Runs `launcher` with /bin/true in place of the tool: can it set up what it stands for?
bool launcher_works(const std::vector<std::string>& launcher) {
    if (launcher.empty() || launcher[0].empty()) return false;
    std::vector<std::string> words = launcher;
    words.emplace_back("/bin/true");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// The tool in a private mount namespace, after `mount_command` has run there.
std::vector<std::string> after_private_mount(const std::string& mount_command) {
    return {unshare_path(), "--mount", "/bin/sh", "-c", mount_command + " && exec \"$@\"", "sh"};
}

e2e::RunResult run(const std::string& command, const std::vector<std::string>& pids,
                   const std::vector<std::string>& launcher = {},
                   const std::string& diagnostics = {}) {
    std::vector<std::string> arguments{command};
    arguments.insert(arguments.end(), pids.begin(), pids.end());
    e2e::RunOptions options;
    options.launcher = launcher;
    options.diagnostics = diagnostics;
    return e2e::run_tool(arguments, options);
}

// tgkill counts PIDs in the caller's namespace, /proc in the namespace it was mounted in:
// a run whose /proc/self is not its own PID asks /proc itself whether an ID leads its group,
// and answers exactly as a run outside the namespace.
TEST(ProcViews, PidNamespaceThatSeesTheHostsProcAnswersInItsNumbering) {
    const std::vector<std::string> launcher = {unshare_path(), "--pid", "--fork", "--"};
    if (!launcher_works(launcher)) {
        GTEST_SKIP() << "not permitted to make a PID namespace here (unshare --pid --fork)";
    }
    test_support::Child child;
    ASSERT_GT(child.pid(), 0);
    test_support::ParkedThread thread;
    const std::vector<std::string> pids = {child.pid_text(), thread.tid_text(), "1",
                                           test_support::pid_nobody_has()};

    const e2e::RunResult outside = run("inspect", pids);
    ASSERT_EQ(e2e::outcomes_of(outside)[0], "found") << outside.out;
    const e2e::RunResult inside = run("inspect", pids, launcher);
    EXPECT_EQ(inside.status, 0) << inside.err;
    EXPECT_EQ(inside.out, outside.out);

    EXPECT_EQ(e2e::outcomes_of(run("sample", pids, launcher)),
              e2e::outcomes_of(run("sample", pids)));
}

// systemd's ProcSubset=pid: no /proc/stat. sample needs no boot time, inspect takes it from
// the clocks (the same second the kernel shows as btime), and the tool's own times need none.
TEST(ProcViews, ProcWithOnlyProcessesNeedsNoSystemFiles) {
    const auto launcher = after_private_mount("mount -t proc -o subset=pid proc /proc");
    if (!launcher_works(launcher)) {
        GTEST_SKIP() << "not permitted to mount /proc with subset=pid here (needs a private "
                        "mount namespace and Linux 5.8)";
    }
    test_support::Child child;
    ASSERT_GT(child.pid(), 0);
    const std::vector<std::string> pids = {child.pid_text(), test_support::pid_nobody_has()};

    const e2e::RunResult sampled = run("sample", pids, launcher, "1");
    EXPECT_EQ(e2e::outcomes_of(sampled), (std::vector<std::string>{"found", "not_found"}));
    const std::optional<JsonNode> document = testing_support::read_json_line(sampled.out);
    ASSERT_TRUE(document.has_value());
    const JsonNode* resources = document->find("diagnostics")->find("resources");
    ASSERT_NE(resources, nullptr);
    EXPECT_EQ(resources->find("cpuUserMs")->kind, Kind::number) << sampled.out;
    EXPECT_EQ(resources->find("unavailable")->kind, Kind::null) << sampled.out;

    // Same rows, same creation times as with the whole of /proc.
    const e2e::RunResult outside = run("inspect", pids);
    ASSERT_EQ(e2e::outcomes_of(outside)[0], "found") << outside.out;
    const e2e::RunResult inside = run("inspect", pids, launcher);
    EXPECT_EQ(inside.status, 0) << inside.err;
    EXPECT_EQ(inside.out, outside.out);
}

// A time namespace with a boot-time offset moves CLOCK_BOOTTIME, and /proc moves every start
// time by the same offset (and btime back by it), so a creation time stands still. Where /proc
// has no stat, the boot time is taken from the clocks: only CLOCK_BOOTTIME, which the offset
// moves and which counts time suspended, gives the kernel's own.
TEST(ProcViews, CreationTimesInsideATimeNamespaceAreTheSame) {
    test_support::Child child;
    ASSERT_GT(child.pid(), 0);
    const std::vector<std::string> pids = {child.pid_text()};
    const e2e::RunResult outside = run("inspect", pids);
    ASSERT_EQ(e2e::outcomes_of(outside)[0], "found") << outside.out;

    const std::string offset_seconds = "1000000";
    for (const char* mount : {"mount -t proc -o subset=pid proc /proc", "true"}) {
        SCOPED_TRACE(mount);
        std::vector<std::string> launcher = {unshare_path(), "--time", "--boottime",
                                             offset_seconds, "--fork"};
        const auto private_mount = after_private_mount(mount);
        launcher.insert(launcher.end(), private_mount.begin(), private_mount.end());
        if (!launcher_works(launcher)) {
            GTEST_SKIP() << "not permitted to make a time namespace with a private /proc here "
                            "(unshare --time --boottime, Linux 5.6)";
        }
        const e2e::RunResult inside = run("inspect", pids, launcher);
        EXPECT_EQ(inside.status, 0) << inside.err;
        EXPECT_EQ(inside.out, outside.out);
    }
}

// With a tmpfs over /proc nothing can be looked at; a missing directory there says nothing of
// whether a process exists, so no row may claim that it does not.
TEST(ProcViews, ProcThatIsNotAProcFilesystemOpensNothing) {
    if (e2e::tool_has_sanitizers()) {
        GTEST_SKIP() << "the sanitizer runtime of the tool needs /proc "
                        "(LeakSanitizer ends the run)";
    }
    const auto launcher = after_private_mount("mount -t tmpfs tmpfs /proc");
    if (!launcher_works(launcher)) {
        GTEST_SKIP() << "not permitted to mount over /proc in a private mount namespace here";
    }
    test_support::Child child;
    ASSERT_GT(child.pid(), 0);
    const std::vector<std::string> pids = {"1", child.pid_text(), test_support::pid_nobody_has()};
    const std::vector<std::string> open_process(pids.size(), "OPEN_PROCESS");
    for (const char* command : {"sample", "inspect"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(e2e::outcomes_of(run(command, pids, launcher)), open_process);
    }
}

// hidepid=2 takes other users' processes out of /proc altogether. They still exist, and the
// run may not open them: their rows say so, as hidepid=1 makes them say; only an ID that names
// no process (or a thread that does not lead one) is not_found.
TEST(ProcViews, ProcessesThatHidepidHidesCannotBeOpened) {
    std::vector<std::string> launcher = after_private_mount("mount -t proc -o hidepid=2 proc /proc");
    launcher.insert(launcher.end(), e2e::as_nobody.begin(), e2e::as_nobody.end());
    if (!launcher_works(launcher)) {
        GTEST_SKIP() << "not permitted to mount /proc with hidepid=2 in a private mount namespace "
                        "and run as nobody here";
    }
    const e2e::ToolCopy tool;
    ASSERT_FALSE(tool.path().empty());
    test_support::Child child;
    ASSERT_GT(child.pid(), 0);
    test_support::ParkedThread thread;
    const std::vector<std::string> pids = {"1", child.pid_text(), thread.tid_text(),
                                           test_support::pid_nobody_has()};
    const std::vector<std::string> expected = {"OPEN_PROCESS", "OPEN_PROCESS", "not_found",
                                               "not_found"};
    for (const char* command : {"sample", "inspect"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> arguments{command};
        arguments.insert(arguments.end(), pids.begin(), pids.end());
        e2e::RunOptions options;
        options.launcher = launcher;
        options.program = tool.path();
        EXPECT_EQ(e2e::outcomes_of(e2e::run_tool(arguments, options)), expected);
    }
}

}  // namespace
