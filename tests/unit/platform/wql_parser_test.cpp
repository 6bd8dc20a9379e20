#include "platform/procfs/wql_parser.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using Pids = std::vector<std::uint32_t>;

const std::string prefix = "SELECT ProcessId, CommandLine FROM Win32_Process WHERE ";

struct AcceptedCase {
    std::string query;
    Pids pids;
};

TEST(WqlParser, AcceptsTheProcessQuery) {
    const std::vector<AcceptedCase> cases = {
        {prefix + "ProcessId=7", {7}},
        {prefix + "ProcessId=4 OR ProcessId=1234", {4, 1234}},
        {prefix + "ProcessId=9 OR ProcessId=2 OR ProcessId=9", {9, 2, 9}},
        {prefix + "ProcessId=4294967295", {4294967295u}},
        {prefix + "ProcessId=0", {0}},
        // WQL ignores the case of keywords and names and the width of blanks.
        {"select processid , commandline from WIN32_PROCESS where PROCESSID = 5 or processid=6",
         {5, 6}},
        {"  SELECT\tProcessId,CommandLine\nFROM Win32_Process WHERE ProcessId=1  ", {1}},
    };
    for (const AcceptedCase& c : cases) {
        SCOPED_TRACE(c.query);
        const std::optional<Pids> pids = procfs::parse_process_query(c.query);
        ASSERT_TRUE(pids.has_value());
        EXPECT_EQ(*pids, c.pids);
    }
}

TEST(WqlParser, RefusesEveryOtherText) {
    const std::vector<std::string> cases = {
        "",
        prefix,
        prefix + "ProcessId=",
        prefix + "ProcessId=4 OR",
        prefix + "ProcessId=4 OR ",
        prefix + "ProcessId=4 AND ProcessId=5",
        prefix + "ProcessId=4 ProcessId=5",
        prefix + "ProcessId=4OR ProcessId=5",
        prefix + "ProcessId=-4",
        prefix + "ProcessId=+4",
        prefix + "ProcessId=0x10",
        prefix + "ProcessId='4'",
        prefix + "(ProcessId=4)",
        prefix + "ProcessId<4",
        prefix + "ProcessId=4294967296",
        prefix + "ProcessId=99999999999999999999999",
        prefix + "Handle=4",
        prefix + "ProcessId=4;",
        "SELECT * FROM Win32_Process WHERE ProcessId=4",
        "SELECT CommandLine, ProcessId FROM Win32_Process WHERE ProcessId=4",
        "SELECT ProcessId, CommandLine FROM Win32_Service WHERE ProcessId=4",
        "SELECT ProcessId, CommandLine FROM Win32_Process",
        "SELECT ProcessId, CommandLine, Name FROM Win32_Process WHERE ProcessId=4",
        "SELECTProcessId, CommandLine FROM Win32_Process WHERE ProcessId=4",
        prefix + "ProcessId=4" + std::string(1, '\0'),
        "SELECT ProcessId, CommandLine FROM Win32_Process WHERE ProcessId=\xc3\xa9",
    };
    for (const std::string& query : cases) {
        SCOPED_TRACE(query);
        EXPECT_FALSE(procfs::parse_process_query(query).has_value());
    }
}

TEST(WqlParser, TakesTenThousandConditionsInOnePass) {
    std::string query = prefix;
    Pids expected;
    for (std::uint32_t pid = 1; pid <= 10000; ++pid) {
        if (pid > 1) query += " OR ";
        query += "ProcessId=" + std::to_string(pid);
        expected.push_back(pid);
    }
    const std::optional<Pids> pids = procfs::parse_process_query(query);
    ASSERT_TRUE(pids.has_value());
    EXPECT_EQ(*pids, expected);
}

}  // namespace
