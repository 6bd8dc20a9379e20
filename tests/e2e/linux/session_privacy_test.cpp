// A session that runs as an unprivileged user and reads another user's process, while /proc is
// mounted anew to hide other users' processes: from the next request on it answers as the
// one-shot does at that moment, never through what it kept. The test makes a mount and PID
// namespace of its own (as root) and runs the case there.

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;

const char* const setpriv_path = "/usr/bin/setpriv";
const char* const unshare_path = "/usr/bin/unshare";

// How long the reading took is the one figure two runs may not share.
std::string without_windows(const std::string& document) {
    static const std::regex window{R"("windowMs":[0-9]+)"};
    return std::regex_replace(document, window, R"("windowMs":0)");
}

// The tool run as nobody.
e2e::RunOptions as_nobody() {
    e2e::RunOptions options;
    options.launcher = {setpriv_path, "--reuid=65534", "--regid=65534", "--clear-groups"};
    return options;
}

std::string status_of(const std::string& answer) {
    const auto document = testing_support::read_json_line(answer);
    const JsonNode* rows = document ? document->find("samples") : nullptr;
    if (rows == nullptr || rows->items.size() != 1) return "not one row: " + answer;
    const JsonNode* code = rows->items[0].find("code");
    return rows->items[0].find("status")->text + (code != nullptr ? " " + code->text : "");
}

bool in_own_namespaces() { return std::getenv("ZUL_TEST_IN_OWN_MOUNT_NAMESPACE") != nullptr; }

TEST(SessionPrivacyInOwnNamespaces, ProcMountedToHideProcessesIsObeyedAtTheNextRequest) {
    if (!in_own_namespaces()) GTEST_SKIP() << "runs in the namespaces the test below makes";
    const test_support::Child child;  // root's
    e2e::ToolSession session{as_nobody()};
    const std::string request = "sample " + child.pid_text() + "\n";
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(session.send(request));
        ASSERT_EQ(status_of(session.answer()), "found");
    }

    ASSERT_EQ(::mount("proc", "/proc", "proc", MS_REMOUNT, "hidepid=2"), 0);
    const e2e::RunResult one_shot = e2e::run_tool({"sample", child.pid_text()}, as_nobody());
    ASSERT_EQ(one_shot.status, 0) << one_shot.err;
    ASSERT_EQ(status_of(one_shot.out), "error OPEN_PROCESS");
    ASSERT_TRUE(session.send(request));
    EXPECT_EQ(without_windows(session.answer()), without_windows(one_shot.out));

    // Shown again: read again, as the one-shot reads it.
    ASSERT_EQ(::mount("proc", "/proc", "proc", MS_REMOUNT, "hidepid=0"), 0);
    ASSERT_TRUE(session.send(request));
    EXPECT_EQ(status_of(session.answer()), "found");
}

std::string this_program() {
    char path[4096];
    const auto length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string{path, static_cast<std::size_t>(length)} : std::string{};
}

TEST(SessionPrivacyE2e, ProcMountedToHideProcessesMidSessionIsObeyed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to mount /proc and to be nobody";
    if (::access(unshare_path, X_OK) != 0 || ::access(setpriv_path, X_OK) != 0) {
        GTEST_SKIP() << "needs unshare and setpriv (util-linux)";
    }
    e2e::RunOptions options;
    options.launcher = {unshare_path, "--mount", "--pid", "--fork", "--mount-proc",
                        "/usr/bin/env", "ZUL_TEST_IN_OWN_MOUNT_NAMESPACE=1"};
    options.program = this_program();
    // With standard input closed, the test's own files would take descriptor 0.
    options.input_file = "/dev/null";
    const e2e::RunResult run = e2e::run_tool(
        {"--gtest_filter=SessionPrivacyInOwnNamespaces.*"}, options);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test."), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("SKIPPED"), std::string::npos) << run.out;
}

}  // namespace
