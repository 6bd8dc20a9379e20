// The built tool's `inspect` command against real Linux processes: identities from /proc, the
// command lines through the COM-shaped query answered from /proc, the rechecked rows.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/awkward_child.hpp"
#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "e2e/linux/traced_run.hpp"
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

// The kernel's cmdline of a process, and the length of its argument area (arg_end - arg_start
// of stat): the kernel gives that area's bytes exactly, unless a title was written past its
// end, when it gives the title up to its first zero byte.
struct KernelCmdline {
    std::string bytes;
    std::uint64_t area = 0;
};

KernelCmdline kernel_cmdline(const std::string& pid) {
    KernelCmdline read;
    std::ifstream cmdline{"/proc/" + pid + "/cmdline", std::ios::binary};
    read.bytes.assign(std::istreambuf_iterator<char>{cmdline}, {});
    const auto stat = test_support::stat_fields("/proc/" + pid + "/stat");
    if (stat.size() > 49) read.area = std::stoull(stat[49]) - std::stoull(stat[48]);
    return read;
}

// A process started with exactly `words`, in its state once the constructor returns.
std::unique_ptr<WaitingProgram> started(const std::string& program,
                                        std::vector<std::string> words) {
    return std::make_unique<WaitingProgram>(program, std::move(words));
}

std::unique_ptr<WaitingProgram> awkward(const std::vector<std::string>& arguments) {
    auto child = std::make_unique<e2e::AwkwardChild>(arguments);
    if (!child->says("ready")) return nullptr;
    return child;
}

// Servers write their title over their argument area; a title longer than the area runs on
// into the environment. Empty arguments at the end of a real argument vector are arguments.
// Each command line is what the kernel's cmdline and argument area say it is, and a title is
// shown as ps shows it.
TEST(InspectE2e, TitlesAndArgumentVectorsAreToldApart) {
    const std::string helper = e2e::awkward_process_path();
    struct Case {
        const char* name;
        std::unique_ptr<WaitingProgram> process;
        // Whether the kernel's cmdline is as long as the argument area.
        bool whole_area;
        std::string command_line;
        bool as_ps_shows;
    };
    std::vector<Case> cases;
    cases.push_back({"a title padded with zero bytes",
                     awkward({"retitle", "worker: my title", std::string(60, 'x')}), true,
                     "worker: my title", true});
    cases.push_back({"one word padded with zero bytes, which the bytes cannot tell from a "
                     "word and empty arguments",
                     awkward({"retitle", "worker", std::string(60, 'x')}), true, "worker", true});
    cases.push_back({"a title past the area, padded with spaces (Perl)",
                     awkward({"overflow-title", "spaces", "my daemon: idle"}), false,
                     "my daemon: idle", true});
    cases.push_back({"a title past the area, padded with zero bytes (nginx)",
                     awkward({"overflow-title", "zeros", "nginx: master process % -c %.conf"}),
                     false, "nginx: master process " + helper + " -c " + helper + ".conf", true});
    cases.push_back({"an argument vector ending in empty arguments",
                     started("/bin/sh", {"sh", "-c", "read line", "", "x y", ""}), true,
                     "sh -c 'read line' '' 'x y' ''", false});
    cases.push_back({"one argument that needs quotes",
                     started("/bin/sh", {"my shell"}), true, "'my shell'", false});

    std::vector<std::string> pids;
    for (const Case& c : cases) {
        ASSERT_NE(c.process, nullptr) << c.name;
        ASSERT_GT(c.process->pid(), 0) << c.name;
        pids.push_back(c.process->pid_text());
    }
    const std::vector<JsonNode> rows = inspect_rows(pids);
    ASSERT_EQ(rows.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const KernelCmdline kernel = kernel_cmdline(pids[i]);
        EXPECT_EQ(kernel.bytes.size() == kernel.area, cases[i].whole_area)
            << kernel.bytes.size() << " bytes, area " << kernel.area;
        EXPECT_EQ(text_of(rows[i], "status"), "found");
        EXPECT_EQ(text_of(rows[i], "commandLine"), cases[i].command_line);
        if (cases[i].as_ps_shows) {
            EXPECT_EQ(ps_args(pids[i]), cases[i].command_line);
        }
    }
}

// The argument area is read only for the one cmdline whose text hangs on it: a single argument
// that would be quoted. Any other costs no read beyond those every row makes.
TEST(InspectE2e, OnlyAOneArgumentCmdlineCostsAReadOfStat) {
    if (!e2e::strace_works()) GTEST_SKIP() << "strace is missing or may not trace here";
    WaitingProgram vector{"/bin/sh", {"/bin/sh", "-c", "read line", "", "x y"}};
    WaitingProgram one_word{"/bin/sh", {"sh"}};
    WaitingProgram one_quoted{"/bin/sh", {"my shell"}};
    const std::unique_ptr<WaitingProgram> title =
        awkward({"overflow-title", "spaces", "my daemon: idle"});
    ASSERT_NE(title, nullptr);
    const auto stat_reads = [](const WaitingProgram& process) {
        const e2e::TracedRun traced =
            e2e::traced_run({"inspect", process.pid_text()}, "openat");
        EXPECT_EQ(e2e::outcomes_of(traced.run), std::vector<std::string>{"found"});
        return traced.count_on("openat", "stat");
    };
    const std::size_t plain = stat_reads(vector);
    EXPECT_EQ(stat_reads(one_word), plain);
    EXPECT_EQ(stat_reads(one_quoted), plain + 1);
    EXPECT_EQ(stat_reads(*title), plain + 1);
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
