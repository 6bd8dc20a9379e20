// The built tool under valgrind: no invalid access, no leak, no descriptor left open, for both
// commands over live processes, an ended one and an ID nobody has, and for a session that
// answers them, twice, and a refusal.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "e2e/linux/child_pool.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"

namespace {

constexpr int valgrind_error_status = 99;

bool valgrind_available() {
    return std::system("valgrind --version >/dev/null 2>&1") == 0;
}

std::string read_file(const std::string& path) {
    std::ifstream file{path};
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::size_t occurrences(const std::string& text, const std::string& word) {
    std::size_t count = 0;
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++count;
    }
    return count;
}

TEST(ValgrindE2e, BothCommandsRunClean) {
    if (e2e::tool_has_sanitizers()) {
        GTEST_SKIP() << "valgrind cannot run a program built with AddressSanitizer";
    }
    if (!valgrind_available()) GTEST_SKIP() << "valgrind is not installed";

    e2e::ChildPool children{2};
    ASSERT_EQ(children.pids().size(), 2u);
    const pid_t ended = test_support::fork_waiting_child();
    test_support::end_child(ended);

    std::vector<std::string> pids = e2e::as_arguments(children.pids());
    pids.push_back(std::to_string(::getpid()));
    pids.push_back(std::to_string(ended));
    pids.push_back(test_support::pid_nobody_has());

    char log_path[] = "/tmp/zul-valgrind-XXXXXX";
    const int log_fd = ::mkstemp(log_path);
    ASSERT_GE(log_fd, 0);
    ::close(log_fd);

    std::string listed;
    for (const std::string& pid : pids) listed += " " + pid;
    const e2e::TemporaryFolder folder{"zul-valgrind"};
    const std::string requests = folder.path() + "/requests";
    std::ofstream{requests} << "sample" << listed << "\ninspect" << listed << "\nsample" << listed
                            << "\ninspect" << listed << "\nnope\n";

    for (const char* command : {"sample", "inspect", "serve"}) {
        SCOPED_TRACE(command);
        const bool session = std::string{command} == "serve";
        std::string line = "valgrind -q --error-exitcode=" + std::to_string(valgrind_error_status) +
                           " --leak-check=full --track-fds=yes"
                           " --log-file=" + std::string{log_path} + " " + e2e::tool_path() +
                           " " + command + (session ? "" : listed);
        // Standard input closed (or the requests) and output discarded: only valgrind's verdict
        // matters here.
        line += (session ? " <" + requests : std::string{" </dev/null"}) + " >/dev/null";
        const int status = std::system(line.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        const std::string log = read_file(log_path);
        EXPECT_EQ(WEXITSTATUS(status), 0) << log;
        // --track-fds lists the descriptors open at exit without failing the run: every one of
        // them must be one the tool was started with.
        EXPECT_EQ(occurrences(log, "Open "), occurrences(log, "<inherited from parent>")) << log;
    }
    ::unlink(log_path);
}

}  // namespace
