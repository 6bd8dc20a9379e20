// The resource probe: every outcome with its exact call sequence, the values of a reading and
// the reading's own duration.

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "probe/sample_probe.hpp"
#include "unit/platform_test.hpp"

namespace {

using ProbeTest = testing_support::PlatformTest;

using ::testing::ElementsAreArray;
using probe::ProbeError;

constexpr platform::Pid pid = 42;

// The calls of a probe that reads everything; the failing cases are prefixes or variations.
const std::vector<std::string> opened{"OpenProcess(4096,0,42)", "GetExitCodeProcess(42)"};

std::vector<std::string> calls(std::vector<std::string> tail) {
    std::vector<std::string> all = opened;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

struct OutcomeCase {
    const char* name;
    platform::Pid target;
    std::function<void(fake::Process&)> script;
    // "found", "not_found" or the error code.
    std::string outcome;
    std::vector<std::string> calls;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class SampleOutcomeTest : public ProbeTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(SampleOutcomeTest, MapsEveryPlatformAnswer) {
    const OutcomeCase& c = GetParam();
    fake::Process& scripted = fake::process(pid);
    if (c.script) c.script(scripted);

    const auto outcome = probe::sample(processes, c.target);

    if (c.outcome == "found") {
        EXPECT_TRUE(outcome.found());
    } else if (c.outcome == "not_found") {
        EXPECT_TRUE(outcome.not_found());
    } else {
        ASSERT_TRUE(outcome.is_error());
        EXPECT_EQ(outcome.error(), ProbeError{c.outcome});
    }
    EXPECT_THAT(fake::call_log(), ElementsAreArray(c.calls));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SampleOutcomeTest,
    ::testing::Values(
        OutcomeCase{"NoSuchProcess", 7, nullptr, "not_found",
                    {"OpenProcess(4096,0,7)", "GetLastError()"}},
        OutcomeCase{"InvalidParameter", pid,
                    [](fake::Process& p) {
                        p.open_fails = fake::always;
                        p.open_error = 87;
                    },
                    "not_found",
                    {"OpenProcess(4096,0,42)", "GetLastError()"}},
        OutcomeCase{"AccessDenied", pid,
                    [](fake::Process& p) {
                        p.open_fails = fake::always;
                        p.open_error = 5;
                    },
                    "OPEN_PROCESS",
                    {"OpenProcess(4096,0,42)", "GetLastError()"}},
        OutcomeCase{"ExitedButOpenable", pid, [](fake::Process& p) { p.exit_codes = {0}; },
                    "not_found", calls({"CloseHandle(42)"})},
        OutcomeCase{"ExitedWith259CountsAsRunning", pid,
                    [](fake::Process& p) { p.exit_codes = {259}; }, "found",
                    calls({"GetProcessTimes(42)", "GetProcessMemoryInfo(42)", "CloseHandle(42)"})},
        OutcomeCase{"ExitCodeUnreadable", pid,
                    [](fake::Process& p) { p.exit_code_fails = fake::always; }, "PROCESS_STATE",
                    calls({"CloseHandle(42)"})},
        OutcomeCase{"TimesFailAfterTheProcessEnded", pid,
                    [](fake::Process& p) {
                        p.times_fail = fake::always;
                        p.exit_codes = {259, 0};
                    },
                    "not_found",
                    calls({"GetProcessTimes(42)", "GetExitCodeProcess(42)", "CloseHandle(42)"})},
        OutcomeCase{"TimesFailWhileRunning", pid, [](fake::Process& p) { p.times_fail = fake::always; },
                    "PROCESS_TIMES",
                    calls({"GetProcessTimes(42)", "GetExitCodeProcess(42)", "CloseHandle(42)"})},
        OutcomeCase{"TimesFailAndStateUnreadable", pid,
                    [](fake::Process& p) {
                        p.times_fail = fake::always;
                        p.exit_code_fails = fake::from_call(2);
                    },
                    "PROCESS_TIMES",
                    calls({"GetProcessTimes(42)", "GetExitCodeProcess(42)", "CloseHandle(42)"})},
        // A process that ended while its memory was read is not found with no figures.
        OutcomeCase{"MemoryFailsAfterTheProcessEnded", pid,
                    [](fake::Process& p) {
                        p.memory_fails = fake::always;
                        p.exit_codes = {259, 0};
                    },
                    "not_found",
                    calls({"GetProcessTimes(42)", "GetProcessMemoryInfo(42)",
                           "GetExitCodeProcess(42)", "CloseHandle(42)"})},
        OutcomeCase{"MemoryFailsWhileRunning", pid,
                    [](fake::Process& p) { p.memory_fails = fake::always; }, "PROCESS_MEMORY",
                    calls({"GetProcessTimes(42)", "GetProcessMemoryInfo(42)",
                           "GetExitCodeProcess(42)", "CloseHandle(42)"})},
        OutcomeCase{"MemoryFailsAndStateUnreadable", pid,
                    [](fake::Process& p) {
                        p.memory_fails = fake::always;
                        p.exit_code_fails = fake::from_call(2);
                    },
                    "PROCESS_MEMORY",
                    calls({"GetProcessTimes(42)", "GetProcessMemoryInfo(42)",
                           "GetExitCodeProcess(42)", "CloseHandle(42)"})},
        OutcomeCase{"Readable", pid, nullptr, "found",
                    calls({"GetProcessTimes(42)", "GetProcessMemoryInfo(42)",
                           "CloseHandle(42)"})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeTest, FoundReadingCarriesTheCounters) {
    fake::Process& p = fake::process(pid);
    p.user_ticks = 12345;
    p.kernel_ticks = 15625;
    p.working_set = 4096;
    p.peak_working_set = 8192;

    const auto outcome = probe::sample(processes, pid);

    ASSERT_TRUE(outcome.found());
    const probe::ProcessSample& s = outcome.value();
    EXPECT_EQ(s.cpu_user_ms, 1.2345);
    EXPECT_EQ(s.cpu_system_ms, 1.5625);
    EXPECT_EQ(s.rss_bytes, 4096u);
    EXPECT_EQ(s.peak_bytes, 8192u);
    EXPECT_EQ(s.peak_source, "system");
}

TEST_F(ProbeTest, ProcessorTicksBecomeMilliseconds) {
    struct Case {
        std::uint64_t ticks;
        double ms;
    };
    const std::vector<Case> cases{
        {0, 0.0},
        {12, 0.0012},
        {10000, 1.0},
        // Above 2^53 the tick count rounds to the nearest double before the division.
        {(std::uint64_t{1} << 53) + 1, 9007199254740992.0 / 10000.0},
        {std::uint64_t{0xFFFFFFFF} << 32, 18446744069414584320.0 / 10000.0},
    };
    for (const Case& c : cases) {
        fake::reset_processes();
        fake::process(pid).user_ticks = c.ticks;
        fake::process(pid).kernel_ticks = c.ticks;
        const auto outcome = probe::sample(processes, pid);
        ASSERT_TRUE(outcome.found());
        EXPECT_EQ(outcome.value().cpu_user_ms, c.ms) << c.ticks;
        EXPECT_EQ(outcome.value().cpu_system_ms, c.ms) << c.ticks;
    }
}

TEST_F(ProbeTest, WindowCountsWholeMillisecondsFromBeforeTheOpen) {
    struct Case {
        std::uint64_t open_takes_nanos;
        std::uint64_t window_ms;
    };
    const std::vector<Case> cases{
        {0, 0}, {999'999, 0}, {1'000'000, 1}, {1'999'999, 1}, {2'500'000'000, 2500}};
    for (const Case& c : cases) {
        fake::reset_processes();
        fake::set_clock({7, 999'999'999});
        fake::process(pid).open_takes_nanos = c.open_takes_nanos;
        const auto outcome = probe::sample(processes, pid);
        ASSERT_TRUE(outcome.found());
        EXPECT_EQ(outcome.value().window_ms, c.window_ms) << c.open_takes_nanos;
    }
}

TEST_F(ProbeTest, CreationTimeOnlyWhenAskedForAndTheInstantOfTheCounters) {
    struct Case {
        probe::CreationTime creation;
        std::optional<std::uint64_t> creation_ticks;
        std::size_t asked;
        std::uint64_t filetime_calls;
    };
    const std::vector<Case> cases{
        {probe::CreationTime::skipped, std::nullopt, 0, 2},
        {probe::CreationTime::read, 133'485'000'001'234'567, 1, 3},
    };
    enable_diagnostics();
    for (const Case& c : cases) {
        fake::reset_processes();
        fake::set_clock({7, 999'999'999});
        fake::Process& p = fake::process(pid);
        p.creation_ticks = {133'485'000'001'234'567};
        p.user_ticks = 10000;
        // The open takes 2.5 s, and only the open moves the clock on.
        p.open_takes_nanos = 2'500'000'000;
        const auto filetime = recorded_calls("windows::filetime");

        const auto outcome = probe::sample(processes, pid, c.creation);

        ASSERT_TRUE(outcome.found());
        const probe::ProcessSample& s = outcome.value();
        EXPECT_EQ(s.creation_ticks, c.creation_ticks);
        EXPECT_EQ(fake::creation_times_asked(), c.asked);
        EXPECT_EQ(recorded_calls("windows::filetime") - filetime, c.filetime_calls);
        EXPECT_EQ(s.cpu_user_ms, 1.0);
        EXPECT_EQ(s.read_at.seconds, 10u);
        EXPECT_EQ(s.read_at.nanos, 499'999'999u);
        EXPECT_EQ(s.window_ms, 2500u);
        EXPECT_THAT(fake::call_log(),
                    ElementsAreArray(calls({"GetProcessTimes(42)", "GetProcessMemoryInfo(42)",
                                            "CloseHandle(42)"})));
    }
}

TEST_F(ProbeTest, DiagnosticsCountTheStepsOfEachOutcome) {
    struct Case {
        const char* name;
        std::function<void(fake::Process&)> script;
        std::uint64_t drop_handle, filetime, terminated;
    };
    const std::vector<Case> cases{
        {"found", nullptr, 1, 2, 0},
        {"no such process", [](fake::Process& p) { p.open_fails = fake::always; p.open_error = 87; },
         0, 0, 0},
        {"times fail", [](fake::Process& p) { p.times_fail = fake::always; }, 1, 0, 1},
        {"memory fails", [](fake::Process& p) { p.memory_fails = fake::always; }, 1, 0, 1},
    };
    enable_diagnostics();
    for (const Case& c : cases) {
        fake::reset_processes();
        fake::Process& scripted = fake::process(pid);
        if (c.script) c.script(scripted);
        const auto sample = recorded_calls("windows::sample");
        const auto drop = recorded_calls("windows::drop_handle");
        const auto filetime = recorded_calls("windows::filetime");
        const auto terminated = recorded_calls("windows::terminated");
        (void)probe::sample(processes, pid);
        EXPECT_EQ(recorded_calls("windows::sample") - sample, 1u) << c.name;
        EXPECT_EQ(recorded_calls("windows::drop_handle") - drop, c.drop_handle) << c.name;
        EXPECT_EQ(recorded_calls("windows::filetime") - filetime, c.filetime) << c.name;
        EXPECT_EQ(recorded_calls("windows::terminated") - terminated, c.terminated) << c.name;
    }
}

}  // namespace
