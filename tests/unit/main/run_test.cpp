// The whole run over the fake platform: refusals, the document, output failures, diagnostics.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/processes.hpp"
#include "fake/runtime.hpp"
#include "main/run.hpp"
#include "unit/platform_test.hpp"

namespace {

using platform::Stream;
using Arguments = std::vector<std::string>;

const std::string usage = "usage: zul-process <inspect|sample> <pid> [pid...]\n";

using RunTest = testing_support::PlatformTest;

struct RefusalCase {
    Arguments arguments;
    std::string error;
};

TEST_F(RunTest, RefusesABadCommandLineBeforeLookingAtAnyProcess) {
    const std::string not_decimal = "process IDs must be positive decimal integers\n";
    const std::vector<RefusalCase> cases{
        {std::vector<std::string>{}, usage},
        {std::vector<std::string>{"Sample", "12"}, usage},
        {std::vector<std::string>{"SAMPLE", "12"}, usage},
        {std::vector<std::string>{"sampl", "12"}, usage},
        {std::vector<std::string>{"samples", "12"}, usage},
        {std::vector<std::string>{"sample ", "12"}, usage},
        {std::vector<std::string>{"12", "sample"}, usage},
        {std::vector<std::string>{""}, usage},
        {std::vector<std::string>{"sample"}, "provide at least one process ID\n"},
        {std::vector<std::string>{"inspect"}, "provide at least one process ID\n"},
        {std::vector<std::string>{"inspect", "12", "0"}, "process ID must be positive\n"},
        {std::vector<std::string>{"sample", "12", "-5"}, not_decimal},
        {std::vector<std::string>{"sample", "4294967296"}, "process ID out of range\n"},
        // What the backends make of text that is not Unicode: U+FFFD, refused in its turn.
        {std::vector<std::string>{"sample\uFFFD", "12"}, usage},
        {std::vector<std::string>{"\uFFFD"}, usage},
        {std::vector<std::string>{"inspect", "1\uFFFD"}, not_decimal},
        {std::vector<std::string>{"sample", "0", "\uFFFD"}, "process ID must be positive\n"},
    };
    for (const bool diagnostics_on : {false, true}) {
        for (const RefusalCase& c : cases) {
            const std::string label = ::testing::PrintToString(c.arguments);
            fake::reset_processes();
            fake::reset_runtime();
            if (diagnostics_on) enable_diagnostics();
            fake::process(12);
            fake::set_arguments(c.arguments);

            EXPECT_EQ(app::run(), 1) << label;
            EXPECT_EQ(fake::captured(Stream::err), c.error) << label;
            EXPECT_EQ(fake::captured(Stream::out), "") << label;
            EXPECT_THAT(fake::call_log(), ::testing::IsEmpty()) << label;
        }
    }
}

TEST_F(RunTest, SamplesEveryDistinctIdInOrder) {
    fake::Process& twelve = fake::process(12);
    twelve.user_ticks = 156250;
    twelve.kernel_ticks = 312500;
    twelve.working_set = 4096;
    twelve.peak_working_set = 8192;
    fake::process(9).open_fails = fake::always;
    fake::set_arguments(std::vector<std::string>{"sample", "12", "7", "012", "9"});

    EXPECT_EQ(app::run(), 0);
    EXPECT_EQ(
        fake::captured(Stream::out),
        R"({"samples":[)"
        R"({"cpuPercent":null,"cpuSystemMs":31.25,"cpuUserMs":15.625,)"
        R"("peak":{"rssBytes":8192,"source":"system","windowMs":0},"pid":12,"rssBytes":4096,)"
        R"("status":"found","systemPeakBytes":8192,"unavailable":null},)"
        R"({"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":7,)"
        R"("rssBytes":null,"status":"not_found","systemPeakBytes":null,)"
        R"("unavailable":"PROCESS_NOT_FOUND"},)"
        R"({"code":"OPEN_PROCESS","cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,)"
        R"("peak":null,"pid":9,"rssBytes":null,"status":"error","systemPeakBytes":null,)"
        R"("unavailable":"OPEN_PROCESS"}]})"
        "\n");
    EXPECT_EQ(fake::captured(Stream::err), "");
    EXPECT_EQ(fake::calls_named("OpenProcess"), 3u);
}

TEST_F(RunTest, WithoutDiagnosticsTheDocumentHasOnlyItsRows) {
    fake::set_arguments(std::vector<std::string>{"sample", "7"});
    EXPECT_EQ(app::run(), 0);
    EXPECT_THAT(fake::captured(Stream::out), ::testing::StartsWith(R"({"samples":[{)"));
}

struct OutputFailureCase {
    const char* name;
    Arguments arguments;
    bool out_fails;
    bool err_fails;
    int status;
    std::string error;
};

TEST_F(RunTest, AnUnwritableStreamEndsWith101) {
    const std::vector<OutputFailureCase> cases{
        {"stdout", std::vector<std::string>{"sample", "7"}, true, false, 101,
         "failed printing to stdout: No space left on device\n"},
        {"stdout and stderr", std::vector<std::string>{"sample", "7"}, true, true, 101, ""},
        {"stderr for the usage line", std::vector<std::string>{"nope"}, false, true, 101, ""},
        {"stderr for a message", std::vector<std::string>{"sample", "x"}, false, true, 101, ""},
        // The document itself does not need standard error.
        {"only stderr on success", std::vector<std::string>{"sample", "7"}, false, true, 0, ""},
    };
    for (const OutputFailureCase& c : cases) {
        fake::reset_runtime();
        fake::set_arguments(c.arguments);
        if (c.out_fails) fake::fail_stream(Stream::out, "No space left on device");
        if (c.err_fails) fake::fail_stream(Stream::err, "Bad file descriptor");
        EXPECT_EQ(app::run(), c.status) << c.name;
        EXPECT_EQ(fake::captured(Stream::err), c.error) << c.name;
        if (c.out_fails) {
            EXPECT_EQ(fake::captured(Stream::out), "") << c.name;
        }
    }
}

TEST_F(RunTest, DiagnosticsComeFirstAndCountEveryStep) {
    enable_diagnostics();
    fake::process(1);
    fake::process(3);
    fake::set_arguments(std::vector<std::string>{"sample", "1", "2", "3", "1"});
    const std::vector<std::pair<std::string_view, std::uint64_t>> expected_calls{
        {"main", 1},
        {"positive_pids", 1},
        {"sample::collect", 1},
        {"sample::read_sample", 3},
        {"windows::sample", 3},
        {"sample::row", 3},
        {"windows::drop_handle", 2},
        {"windows::filetime", 4},
    };
    std::vector<std::uint64_t> before;
    for (const auto& [name, calls] : expected_calls) before.push_back(recorded_calls(name));

    EXPECT_EQ(app::run(), 0);

    const std::string& out = fake::captured(Stream::out);
    EXPECT_THAT(out, ::testing::StartsWith(R"({"diagnostics":{)"));
    EXPECT_THAT(out, ::testing::HasSubstr(R"(},"samples":[{)"));
    EXPECT_THAT(out, ::testing::EndsWith("]}\n"));
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    for (std::size_t i = 0; i < expected_calls.size(); ++i) {
        EXPECT_EQ(recorded_calls(expected_calls[i].first) - before[i], expected_calls[i].second)
            << expected_calls[i].first;
    }
}

}  // namespace
