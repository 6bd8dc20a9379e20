// Opening, owning and closing process handles; the liveness tests; FILETIME conversion.

#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "probe/process_handle.hpp"
#include "unit/platform_test.hpp"

namespace {

using ProbeTest = testing_support::PlatformTest;

using ::testing::ElementsAre;
using probe::Activity;
using probe::ProbeError;
using probe::ProcessHandle;

constexpr platform::Pid pid = 42;

ProcessHandle open_scripted(platform::Processes& processes, platform::Pid target = pid) {
    auto opened = probe::open_process(processes, target);
    EXPECT_TRUE(opened.found());
    return std::move(opened.value());
}

using ProcessHandleTest = ProbeTest;

TEST_F(ProcessHandleTest, DestructionClosesTheHandleOnce) {
    fake::process(pid);
    { ProcessHandle handle = open_scripted(processes); }
    EXPECT_EQ(fake::calls_named("CloseHandle"), 1u);
}

TEST_F(ProcessHandleTest, MovingHandsOverOwnershipWithoutClosing) {
    fake::process(pid);
    ProcessHandle first = open_scripted(processes);
    ProcessHandle second = std::move(first);
    EXPECT_FALSE(first.owns());
    EXPECT_EQ(fake::calls_named("CloseHandle"), 0u);
    ProcessHandle third{processes, nullptr};
    third = std::move(second);
    EXPECT_EQ(fake::calls_named("CloseHandle"), 0u);
    EXPECT_EQ(fake::open_handles(), 1u);
}

TEST_F(ProcessHandleTest, MoveAssignmentClosesTheHandleItReplaces) {
    fake::process(1);
    fake::process(2);
    ProcessHandle kept = open_scripted(processes, 1);
    ProcessHandle replaced = open_scripted(processes, 2);
    replaced = std::move(kept);
    EXPECT_THAT(fake::call_log(), ElementsAre("OpenProcess(4096,0,1)", "OpenProcess(4096,0,2)",
                                              "CloseHandle(2)"));
}

TEST_F(ProcessHandleTest, EarlyCloseIsNotRepeatedAtDestruction) {
    fake::process(pid);
    {
        ProcessHandle handle = open_scripted(processes);
        handle.close();
        EXPECT_FALSE(handle.owns());
    }
    EXPECT_EQ(fake::calls_named("CloseHandle"), 1u);
}

TEST_F(ProcessHandleTest, EveryCloseIsOneDropHandleCall) {
    enable_diagnostics();
    fake::process(pid);
    const auto before = recorded_calls("windows::drop_handle");
    { ProcessHandle handle = open_scripted(processes); }
    { ProcessHandle handle = open_scripted(processes); }
    EXPECT_EQ(recorded_calls("windows::drop_handle") - before, 2u);
}

struct OpenCase {
    const char* name;
    std::uint32_t last_error;
    bool not_found;  // else error "OPEN_PROCESS"
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class OpenProcessTest : public ProbeTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenProcessTest, TellsMissingFromUnreadable) {
    const OpenCase& c = GetParam();
    fake::process(pid).open_fails = fake::always;
    fake::process(pid).open_error = c.last_error;
    auto opened = probe::open_process(processes, pid);
    EXPECT_EQ(opened.not_found(), c.not_found);
    if (!c.not_found) {
        ASSERT_TRUE(opened.is_error());
        EXPECT_EQ(opened.error(), ProbeError{"OPEN_PROCESS"});
    }
    EXPECT_THAT(fake::call_log(), ElementsAre("OpenProcess(4096,0,42)", "GetLastError()"));
}

INSTANTIATE_TEST_SUITE_P(
    LastErrors, OpenProcessTest,
    ::testing::Values(OpenCase{"InvalidParameter", 87, true},
                      OpenCase{"NextToInvalidParameter", 88, false},
                      OpenCase{"AccessDenied", 5, false},
                      OpenCase{"NotEnoughMemory", 8, false},
                      OpenCase{"InvalidHandle", 6, false},
                      OpenCase{"Zero", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeTest, OpeningAsksOnlyForLimitedQueryRightsAndOwnsTheHandle) {
    fake::process(pid);
    auto opened = probe::open_process(processes, pid);
    ASSERT_TRUE(opened.found());
    EXPECT_TRUE(opened.value().owns());
    EXPECT_THAT(fake::call_log(), ElementsAre("OpenProcess(4096,0,42)"));
    EXPECT_EQ(fake::open_handles(), 1u);
}

struct ActivityCase {
    const char* name;
    fake::Failing exit_code_fails;
    std::uint32_t exit_code;
    // still_active: running, exited, or nullopt for error "PROCESS_STATE".
    std::optional<Activity> activity;
    bool terminated;
};

void PrintTo(const ActivityCase& c, std::ostream* os) { *os << c.name; }

class ActivityTest : public ProbeTest, public ::testing::WithParamInterface<ActivityCase> {};

TEST_P(ActivityTest, ReadsTheExitCode) {
    const ActivityCase& c = GetParam();
    fake::process(pid).exit_code_fails = c.exit_code_fails;
    fake::process(pid).exit_codes = {c.exit_code};
    ProcessHandle handle = open_scripted(processes);

    const auto activity = probe::still_active(handle);
    if (c.activity) {
        ASSERT_TRUE(std::holds_alternative<Activity>(activity));
        EXPECT_EQ(std::get<Activity>(activity), *c.activity);
    } else {
        ASSERT_TRUE(std::holds_alternative<ProbeError>(activity));
        EXPECT_EQ(std::get<ProbeError>(activity), ProbeError{"PROCESS_STATE"});
    }
    EXPECT_EQ(probe::terminated(handle), c.terminated);
}

INSTANTIATE_TEST_SUITE_P(
    ExitCodes, ActivityTest,
    ::testing::Values(
        ActivityCase{"StillActive", fake::never, 259, Activity::running, false},
        ActivityCase{"ExitedWithZero", fake::never, 0, Activity::exited, true},
        ActivityCase{"ExitedWithOne", fake::never, 1, Activity::exited, true},
        ActivityCase{"ExitedWith258", fake::never, 258, Activity::exited, true},
        ActivityCase{"ExitCodeUnreadable", fake::always, 0, std::nullopt, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeTest, TerminatedOpensItsScopeOnce) {
    enable_diagnostics();
    fake::process(pid);
    ProcessHandle handle = open_scripted(processes);
    const auto before = recorded_calls("windows::terminated");
    (void)probe::still_active(handle);
    (void)probe::terminated(handle);
    EXPECT_EQ(recorded_calls("windows::terminated") - before, 1u);
}

TEST(FiletimeTest, ReadsBothHalvesAsOneNumber) {
    struct Case {
        platform::FileTime time;
        std::uint64_t ticks;
    };
    const std::vector<Case> cases{
        {{0, 0}, 0},
        {{0, 1}, 4294967296u},
        {{1, 0}, 1},
        {{0xFFFFFFFF, 0}, 0xFFFFFFFFu},
        {{0x89ABCDEF, 0x01234567}, 0x0123456789ABCDEFu},
        {{0xFFFFFFFF, 0xFFFFFFFF}, std::numeric_limits<std::uint64_t>::max()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(probe::filetime(c.time), c.ticks) << c.time.high << ":" << c.time.low;
    }
}

TEST_F(ProbeTest, EveryConversionIsOneFiletimeCall) {
    enable_diagnostics();
    const auto before = recorded_calls("windows::filetime");
    (void)probe::filetime({1, 2});
    (void)probe::filetime({3, 4});
    EXPECT_EQ(recorded_calls("windows::filetime") - before, 2u);
}

}  // namespace
