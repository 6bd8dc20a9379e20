// The built tool's `sample` command against real Linux processes.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "e2e/linux/document_rows.hpp"
#include "e2e/linux/tool_run.hpp"
#include "support/linux_tasks.hpp"
#include "support/strict_json.hpp"

namespace {

using testing_support::JsonNode;
using Kind = JsonNode::Kind;

const std::set<std::string> probe_codes = {"OPEN_PROCESS", "PROCESS_STATE", "PROCESS_TIMES",
                                           "PROCESS_MEMORY"};

// Runs `sample` and returns the rows, checking the run itself went well.
std::vector<JsonNode> sample_rows(const std::vector<std::string>& pids) {
    std::vector<std::string> arguments{"sample"};
    arguments.insert(arguments.end(), pids.begin(), pids.end());
    const auto run = e2e::run_tool(arguments);
    EXPECT_EQ(run.out.rfind("{\"samples\":[", 0), 0u) << run.out;
    return e2e::rows_of(run);
}

bool is_null(const JsonNode* node) {
    return node != nullptr && node->kind == Kind::null;
}

bool is_float(const JsonNode* node) {
    return node != nullptr && node->kind == Kind::number && !node->is_integer();
}

bool is_integer(const JsonNode* node) {
    return node != nullptr && node->is_integer() && node->text[0] != '-';
}

// Every row has the same keys in sorted order, a tenth ("code") only on errors, and values
// of the right form for its status.
void expect_well_formed(const JsonNode& row, const std::string& pid) {
    SCOPED_TRACE("pid " + pid);
    ASSERT_EQ(row.kind, Kind::object);
    std::vector<std::string> keys;
    for (const auto& member : row.members) {
        keys.push_back(member.first);
    }
    const auto* status = row.find("status");
    ASSERT_TRUE(status != nullptr && status->kind == Kind::string);
    std::vector<std::string> expected_keys = {"cpuPercent", "cpuSystemMs", "cpuUserMs",
                                              "peak",       "pid",         "rssBytes",
                                              "status",     "systemPeakBytes", "unavailable"};
    if (status->text == "error") {
        expected_keys.insert(expected_keys.begin(), "code");
    }
    EXPECT_EQ(keys, expected_keys);
    EXPECT_EQ(row.find("pid")->text, pid);
    EXPECT_TRUE(is_null(row.find("cpuPercent")));

    if (status->text == "found") {
        EXPECT_TRUE(is_float(row.find("cpuUserMs")));
        EXPECT_TRUE(is_float(row.find("cpuSystemMs")));
        EXPECT_TRUE(is_integer(row.find("rssBytes")));
        EXPECT_TRUE(is_integer(row.find("systemPeakBytes")));
        EXPECT_TRUE(is_null(row.find("unavailable")));
        const auto* peak = row.find("peak");
        ASSERT_TRUE(peak != nullptr && peak->kind == Kind::object);
        ASSERT_EQ(peak->members.size(), 3u);
        EXPECT_EQ(peak->find("source")->text, "system");
        EXPECT_EQ(peak->find("rssBytes")->text, row.find("systemPeakBytes")->text);
        EXPECT_TRUE(is_integer(peak->find("windowMs")));
        return;
    }
    for (const char* key : {"cpuUserMs", "cpuSystemMs", "rssBytes", "systemPeakBytes", "peak"}) {
        EXPECT_TRUE(is_null(row.find(key))) << key;
    }
    const auto* unavailable = row.find("unavailable");
    ASSERT_TRUE(unavailable != nullptr && unavailable->kind == Kind::string);
    if (status->text == "not_found") {
        EXPECT_EQ(unavailable->text, "PROCESS_NOT_FOUND");
    } else {
        ASSERT_EQ(status->text, "error");
        EXPECT_EQ(row.find("code")->text, unavailable->text);
        EXPECT_TRUE(probe_codes.count(unavailable->text)) << unavailable->text;
    }
}

TEST(SampleE2e, LiveChildIsFoundWithItsMemory) {
    test_support::Child child;
    const auto rows = sample_rows({child.pid_text()});
    ASSERT_EQ(rows.size(), 1u);
    expect_well_formed(rows[0], child.pid_text());
    ASSERT_EQ(rows[0].find("status")->text, "found");
    const auto rss = rows[0].find("rssBytes")->as_unsigned();
    EXPECT_GT(rss, 0u);
    EXPECT_GE(rows[0].find("systemPeakBytes")->as_unsigned(), rss);
}

TEST(SampleE2e, EachIdGetsItsRowInOrder) {
    test_support::Child live;
    test_support::Child zombie{test_support::Child::State::exited};
    test_support::HalfExitedChild leader_exited;
    test_support::ParkedThread thread;
    struct Case {
        const char* label;
        std::string pid;
        const char* status;
    };
    const std::vector<Case> cases = {
        {"live child", live.pid_text(), "found"},
        {"PID nobody has", test_support::pid_nobody_has(), "not_found"},
        {"zombie child", zombie.pid_text(), "not_found"},
        {"child running on after its main thread ended", leader_exited.pid_text(), "found"},
        {"thread that is not a process", thread.tid_text(), "not_found"},
        {"this test program", std::to_string(::getpid()), "found"},
    };
    std::vector<std::string> pids;
    for (const auto& each : cases) {
        pids.push_back(each.pid);
    }
    const auto rows = sample_rows(pids);
    ASSERT_EQ(rows.size(), cases.size());
    for (std::size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(cases[index].label);
        expect_well_formed(rows[index], cases[index].pid);
        EXPECT_EQ(rows[index].find("status")->text, cases[index].status);
        if (rows[index].find("status")->text == "found") {
            EXPECT_GT(rows[index].find("rssBytes")->as_unsigned(), 0u);
        }
    }
}

TEST(SampleE2e, KernelThreadIsFoundWithZeroMemory) {
    if (!test_support::is_kernel_thread(2)) {
        GTEST_SKIP() << "no kernel thread visible as PID 2 here";
    }
    const auto rows = sample_rows({"2"});
    ASSERT_EQ(rows.size(), 1u);
    expect_well_formed(rows[0], "2");
    ASSERT_EQ(rows[0].find("status")->text, "found");
    EXPECT_EQ(rows[0].find("rssBytes")->text, "0");
    EXPECT_EQ(rows[0].find("systemPeakBytes")->text, "0");
}

TEST(SampleE2e, BadCommandLinesEndWithStatusOne) {
    constexpr const char* usage = "usage: zul-process <inspect|sample> <pid> [pid...]\n";
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{}, usage},
        {{"Sample", "12"}, usage},
        {{"SAMPLE", "12"}, usage},
        {{"sample"}, "provide at least one process ID\n"},
        {{"sample", "12", "-1"}, "process IDs must be positive decimal integers\n"},
        {{"sample", ""}, "process IDs must be positive decimal integers\n"},
        {{"sample", "4294967296"}, "process ID out of range\n"},
        {{"sample", "1", "0"}, "process ID must be positive\n"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::PrintToString(each.arguments));
        const auto run = e2e::run_tool(each.arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, each.err);
        EXPECT_EQ(run.out, "");
    }
}

TEST(SampleE2e, ArgumentThatIsNotUtf8EndsWithStatusOne) {
    const auto run = e2e::run_tool({"sample", "1\xff"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.back(), '\n');
}

TEST(SampleE2e, UnwritableStandardOutputEndsWithStatus101) {
    struct Case {
        const char* label;
        e2e::Output output;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"full device", e2e::Output::full_device, "No space left on device"},
        {"closed pipe", e2e::Output::closed_pipe, "Broken pipe"},
        {"closed descriptor", e2e::Output::closed, "Bad file descriptor"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.label);
        e2e::RunOptions options;
        options.output = each.output;
        const auto run = e2e::run_tool({"sample", std::to_string(::getpid())}, options);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 101);
        EXPECT_NE(run.err.find(std::string{"failed printing to stdout: "} + each.reason),
                  std::string::npos)
            << run.err;
    }
}

TEST(SampleE2e, DiagnosticsComeFirstWithTheToolsOwnResources) {
    for (const char* value : {"1", "true"}) {
        SCOPED_TRACE(value);
        e2e::RunOptions options;
        options.diagnostics = value;
        const auto run = e2e::run_tool({"sample", std::to_string(::getpid())}, options);
        ASSERT_EQ(run.status, 0) << run.err;
        const auto document = testing_support::read_json_line(run.out);
        ASSERT_TRUE(document.has_value()) << run.out;
        ASSERT_EQ(document->members.size(), 2u);
        EXPECT_EQ(document->members[0].first, "diagnostics");
        EXPECT_EQ(document->members[1].first, "samples");

        const auto* resources = document->members[0].second.find("resources");
        ASSERT_TRUE(resources != nullptr && resources->kind == Kind::object);
        EXPECT_TRUE(is_null(resources->find("unavailable")));
        EXPECT_TRUE(is_float(resources->find("cpuUserMs")));
        EXPECT_TRUE(is_float(resources->find("cpuSystemMs")));
        ASSERT_TRUE(is_integer(resources->find("rssBytes")));
        const auto rss = resources->find("rssBytes")->as_unsigned();
        EXPECT_GT(rss, 0u);
        const auto* peak = resources->find("peak");
        ASSERT_TRUE(peak != nullptr && peak->kind == Kind::object);
        EXPECT_GE(peak->find("rssBytes")->as_unsigned(), rss);

        const auto* functions = document->members[0].second.find("functions");
        ASSERT_TRUE(functions != nullptr && functions->kind == Kind::array);
        EXPECT_FALSE(functions->items.empty());
    }

    e2e::RunOptions off;
    off.diagnostics = "0";
    const auto run = e2e::run_tool({"sample", std::to_string(::getpid())}, off);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("{\"samples\":[", 0), 0u) << run.out;
}

// The tool's own times in its diagnostics against its parent's reading of the same process
// (wait4), over a run long enough to burn measurable time in both: each is at most the parent's,
// which also counts the tool's last steps after its reading, and together they come close.
TEST(SampleE2e, DiagnosticsGiveTheToolsOwnTimesAsItsParentReadsThem) {
    std::vector<std::string> arguments{"sample"};
    for (std::uint64_t pid = test_support::pid_max(); arguments.size() <= 20'000; ++pid) {
        arguments.push_back(std::to_string(pid));
    }
    std::FILE* report = std::tmpfile();
    ASSERT_NE(report, nullptr);
    e2e::RunOptions options;
    options.diagnostics = "1";
    options.launcher = {ZUL_PEAK_MEMORY_PATH, std::to_string(::fileno(report))};
    const e2e::RunResult run = e2e::run_tool(arguments, options);
    std::rewind(report);
    unsigned long long user_us = 0, system_us = 0;
    // The peak first, which this test leaves aside.
    const int read = std::fscanf(report, "%*u %llu %llu", &user_us, &system_us);
    std::fclose(report);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(read, 2);

    const auto document = testing_support::read_json_line(run.out);
    ASSERT_TRUE(document.has_value());
    const JsonNode* diagnostics = document->find("diagnostics");
    ASSERT_NE(diagnostics, nullptr);
    const JsonNode* resources = diagnostics->find("resources");
    ASSERT_TRUE(resources != nullptr && is_float(resources->find("cpuUserMs")) &&
                is_float(resources->find("cpuSystemMs")))
        << run.out.substr(0, 2000);
    const double reported_user_us = resources->find("cpuUserMs")->as_double() * 1000;
    const double reported_system_us = resources->find("cpuSystemMs")->as_double() * 1000;
    const double parent_total_us = static_cast<double>(user_us + system_us);
    ASSERT_GT(parent_total_us, 50'000) << "the run was too short to tell";
    // Half a microsecond for the decimal form of the milliseconds.
    EXPECT_LE(reported_user_us, static_cast<double>(user_us) + 0.5);
    EXPECT_LE(reported_system_us, static_cast<double>(system_us) + 0.5);
    EXPECT_GE(reported_user_us + reported_system_us, 0.8 * parent_total_us)
        << "user " << reported_user_us << " of " << user_us << " µs, system "
        << reported_system_us << " of " << system_us << " µs";
}

TEST(SampleE2e, SweepOverEveryProcessGivesWellFormedRows) {
    std::vector<std::string> pids;
    DIR* proc = ::opendir("/proc");
    ASSERT_NE(proc, nullptr);
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            pids.push_back(name);
        }
    }
    ::closedir(proc);
    ASSERT_FALSE(pids.empty());

    const auto rows = sample_rows(pids);
    ASSERT_EQ(rows.size(), pids.size());
    std::size_t found = 0;
    for (std::size_t index = 0; index < pids.size(); ++index) {
        expect_well_formed(rows[index], pids[index]);
        found += rows[index].find("status")->text == "found" ? 1 : 0;
    }
    // At least this test program and PID 1 were alive throughout.
    EXPECT_GE(found, 2u);
}

}  // namespace
