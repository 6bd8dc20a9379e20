// The built tool's `inspect` command against real Linux processes: identities from /proc, the
// command lines through the COM-shaped query answered from /proc, the rechecked rows.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using e2e::text_of;
using test_support::WaitingProgram;
using Kind = JsonNode::Kind;

// A temporary folder whose name holds blanks, quotes and non-ASCII text.
class AwkwardFolder {
public:
    AwkwardFolder() {
        if (base_.path().empty()) return;
        path_ = base_.path() + "/it's a caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80";
        std::filesystem::create_directory(path_);
    }

    const std::string& base() const { return base_.path(); }
    const std::string& path() const { return path_; }

private:
    e2e::TemporaryFolder base_{"zul-inspect"};
    std::string path_;
};

std::vector<JsonNode> inspect_rows(const std::vector<std::string>& pids) {
    std::vector<std::string> arguments{"inspect"};
    arguments.insert(arguments.end(), pids.begin(), pids.end());
    const e2e::RunResult run = e2e::run_tool(arguments);
    EXPECT_EQ(run.out.rfind("{\"processes\":[", 0), 0u) << run.out;
    std::vector<JsonNode> rows = e2e::rows_of(run);
    EXPECT_EQ(rows.size(), pids.size());
    return rows;
}

std::vector<std::string> keys_of(const JsonNode& row) {
    std::vector<std::string> keys;
    for (const auto& member : row.members) keys.push_back(member.first);
    return keys;
}

// What ps shows as the process's arguments, an independent reading of the same cmdline.
std::string ps_args(const std::string& pid) {
    std::FILE* ps = ::popen(("ps -o args= -p " + pid).c_str(), "r");
    if (ps == nullptr) return "<ps did not start>";
    std::string shown;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, ps) != nullptr) shown += chunk;
    ::pclose(ps);
    while (!shown.empty() && shown.back() == '\n') shown.pop_back();
    return shown;
}

// "createdAt" as seconds since the Unix epoch (its ticks count 100 ns from 1601).
double unix_seconds(const std::string& created_at) {
    constexpr double seconds_from_1601_to_1970 = 11644473600.0;
    return std::stod(created_at) / 1e7 - seconds_from_1601_to_1970;
}

double now_unix_seconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(InspectE2e, FoundRowCarriesTheExactCommandLinePathAndStartTime) {
    AwkwardFolder folder;
    ASSERT_FALSE(folder.base().empty());
    const std::string program = folder.path() + "/sh";
    std::filesystem::copy_file("/bin/sh", program);
    std::filesystem::permissions(program, std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);

    const double before = now_unix_seconds();
    WaitingProgram shell{program,
                         {program, "-c", "read line", "two words", "it's", "",
                          "h\xc3\xa9llo w\xc3\xb6rld \xf0\x9f\x98\x80", "$HOME", "plain-arg",
                          "not\xffUTF-8"}};
    const double after = now_unix_seconds();
    ASSERT_GT(shell.pid(), 0);

    // The folder's base name is made of characters that need no quotes.
    const std::string expected_command_line =
        "'" + folder.base() +
        "/it'\\''s a caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80/sh' -c 'read line' "
        "'two words' 'it'\\''s' '' 'h\xc3\xa9llo w\xc3\xb6rld \xf0\x9f\x98\x80' '$HOME' plain-arg "
        "'not\xef\xbf\xbdUTF-8'";

    std::string first_created_at;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const std::vector<JsonNode> rows = inspect_rows({shell.pid_text()});
        ASSERT_EQ(rows.size(), 1u);
        const JsonNode& row = rows[0];
        EXPECT_EQ(keys_of(row), (std::vector<std::string>{"commandLine", "createdAt",
                                                          "executablePath", "pid", "status"}));
        EXPECT_EQ(text_of(row, "status"), "found");
        ASSERT_TRUE(row.find("pid") != nullptr && row.find("pid")->is_integer());
        EXPECT_EQ(row.find("pid")->text, shell.pid_text());
        EXPECT_EQ(text_of(row, "commandLine"), expected_command_line);
        EXPECT_EQ(text_of(row, "executablePath"), std::filesystem::canonical(program).string());

        const std::string created_at = text_of(row, "createdAt");
        ASSERT_FALSE(created_at.empty());
        ASSERT_EQ(created_at.find_first_not_of("0123456789"), std::string::npos) << created_at;
        if (run == 0) {
            first_created_at = created_at;
            // Within a second: the kernel gives the boot time in whole seconds and start
            // times in clock ticks, so allow those too.
            const double slack = 1.0 + 2.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
            EXPECT_GE(unix_seconds(created_at), before - slack);
            EXPECT_LE(unix_seconds(created_at), after + slack);
        } else {
            EXPECT_EQ(created_at, first_created_at);
        }
    }
}

// Servers write their title over their argument area and fill the rest of it with zero bytes;
// the row shows the title as it stands, as ps does, and not one '' per byte of padding.
TEST(InspectE2e, RetitledProcessShowsItsTitleAsPsDoes) {
    e2e::AwkwardChild server{{"retitle", "worker:", "my title", "--", std::string(60, 'x')}};
    ASSERT_TRUE(server.says("ready"));
    const std::string shown = ps_args(server.pid_text());
    ASSERT_EQ(shown, "worker: my title");

    const std::vector<JsonNode> rows = inspect_rows({server.pid_text()});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(text_of(rows[0], "status"), "found");
    EXPECT_EQ(text_of(rows[0], "commandLine"), shown);
}

TEST(InspectE2e, ProcessesThatAreNotThereAreNotFoundInTheirPlace) {
    WaitingProgram live{"/bin/sh", {"/bin/sh", "-c", "read line"}};
    WaitingProgram ended{"/bin/sh", {"/bin/sh", "-c", "read line"}};
    ASSERT_GT(live.pid(), 0);
    ASSERT_GT(ended.pid(), 0);
    const std::string ended_pid = ended.pid_text();
    ended.end();
    test_support::ParkedThread thread;

    struct Case {
        const char* name;
        std::string pid;
        const char* status;
    };
    const std::vector<Case> cases = {
        {"an exited process", ended_pid, "not_found"},
        {"a live process", live.pid_text(), "found"},
        {"a PID nobody has", test_support::pid_nobody_has(), "not_found"},
        {"a thread that is not its process's first", thread.tid_text(), "not_found"},
    };
    std::vector<std::string> pids;
    for (const Case& c : cases) pids.push_back(c.pid);
    const std::vector<JsonNode> rows = inspect_rows(pids);
    ASSERT_EQ(rows.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(rows[i].find("pid")->text, cases[i].pid);
        EXPECT_EQ(text_of(rows[i], "status"), cases[i].status);
        if (std::string{cases[i].status} == "not_found") {
            EXPECT_EQ(keys_of(rows[i]), (std::vector<std::string>{"pid", "status"}));
        }
    }
    EXPECT_EQ(text_of(rows[1], "commandLine"), "/bin/sh -c 'read line'");
}

TEST(InspectE2e, KernelThreadHasNoExecutablePath) {
    if (!test_support::is_kernel_thread(2)) {
        GTEST_SKIP() << "no kernel thread visible as PID 2 here";
    }
    const std::vector<JsonNode> rows = inspect_rows({"2"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(keys_of(rows[0]), (std::vector<std::string>{"code", "pid", "status"}));
    EXPECT_EQ(text_of(rows[0], "status"), "error");
    EXPECT_EQ(text_of(rows[0], "code"), "PROCESS_PATH");
}

// The executable and the command line are read through a live thread, as sample reads memory.
TEST(InspectE2e, ProcessWhoseMainThreadEndedIsFoundWithItsPathAndCommandLine) {
    test_support::HalfExitedChild child;
    ASSERT_EQ(child.state(), 'Z');
    // The child runs this test program with its arguments, as this process does.
    const std::string self = std::to_string(::getpid());
    const std::vector<JsonNode> rows = inspect_rows({self, child.pid_text()});
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(text_of(rows[0], "status"), "found");
    EXPECT_EQ(text_of(rows[1], "status"), "found");
    EXPECT_EQ(text_of(rows[1], "executablePath"), text_of(rows[0], "executablePath"));
    EXPECT_EQ(text_of(rows[1], "commandLine"), text_of(rows[0], "commandLine"));
}

// Any user can empty the argument range of its own process. That costs its own row, not the
// rows of the processes beside it: the query answers an empty command line, never a null one.
TEST(InspectE2e, AnEmptyCmdlineIsAnErrorOfItsOwnRowOnly) {
    e2e::AwkwardChild silent{{"empty-arguments"}};
    if (!silent.says("ready")) {
        GTEST_SKIP() << "this kernel does not let a process move its own argument area";
    }
    WaitingProgram talkative{"/bin/sh", {"/bin/sh", "-c", "read line"}};
    ASSERT_GT(talkative.pid(), 0);
    const std::vector<JsonNode> rows =
        inspect_rows({talkative.pid_text(), silent.pid_text(), test_support::pid_nobody_has()});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(text_of(rows[0], "status"), "found");
    EXPECT_EQ(text_of(rows[0], "commandLine"), "/bin/sh -c 'read line'");
    EXPECT_EQ(text_of(rows[1], "status"), "error");
    EXPECT_EQ(text_of(rows[1], "code"), "WMI_COMMAND_LINE");
    EXPECT_EQ(text_of(rows[2], "status"), "not_found");
}

}  // namespace
