// The Windows build started in a hostile environment: standard handles that are not open, a
// diagnostics switch and arguments that are not valid UTF-16. Each ends with its documented
// status, never a crash and never a partial document.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "launch.hpp"

namespace e2e {
namespace {

constexpr wchar_t high_surrogate = 0xD800;
constexpr wchar_t low_surrogate = 0xDC00;

// A handle value that names nothing in the child: its standard stream is simply not there.
HANDLE not_open() { return INVALID_HANDLE_VALUE; }
HANDLE never_opened() { return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FF0)); }

struct MissingStream {
    const char* label;
    std::vector<std::wstring> arguments;
    bool stdout_missing;
    HANDLE (*handle)();
    DWORD exit_code;
};

class WindowsMissingStream : public ::testing::TestWithParam<MissingStream> {};

TEST_P(WindowsMissingStream, EndsWithItsStatus) {
    const MissingStream& c = GetParam();
    ToolOptions options;
    (c.stdout_missing ? options.stdout_handle : options.stderr_handle) = c.handle();
    const ToolRun run = run_tool(c.arguments, options);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    if (c.stdout_missing) {
        EXPECT_TRUE(run.err.starts_with("failed printing to stdout: ")) << run.err;
    } else if (c.exit_code == 0) {
        EXPECT_TRUE(run.out.starts_with("{\"samples\":[") && run.out.ends_with("]}\n")) << run.out;
    } else {
        EXPECT_EQ(run.out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, WindowsMissingStream,
    ::testing::Values(
        MissingStream{"StdoutInvalid", {L"sample", L"2147483632"}, true, not_open, 101},
        MissingStream{"StdoutNeverOpened", {L"inspect", L"2147483632"}, true, never_opened, 101},
        // Nothing goes to standard error on success, so its absence changes nothing.
        MissingStream{"StderrInvalidOnSuccess", {L"sample", L"2147483632"}, false, not_open, 0},
        MissingStream{"StderrInvalidOnUsage", {L"Sample", L"12"}, false, not_open, 101},
        MissingStream{"StderrNeverOpenedOnBadId", {L"sample", L"x"}, false, never_opened, 101}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WindowsEnvironment, DiagnosticsSwitchThatIsNotValidUtf16IsOff) {
    const std::vector<std::wstring> values = {
        std::wstring(1, high_surrogate),
        L"1" + std::wstring(1, high_surrogate),
        std::wstring(1, low_surrogate) + L"true",
    };
    for (const std::wstring& value : values) {
        SCOPED_TRACE(narrow(value));
        for (const wchar_t* command : {L"sample", L"inspect"}) {
            const ToolRun run =
                run_tool({command, L"2147483632"},
                         ToolOptions{.environment = {L"ZUL_DIAGNOSTICS_ENABLED=" + value}});
            EXPECT_EQ(run.exit_code, 0u) << run.err;
            EXPECT_TRUE(run.out.starts_with("{\"samples\":[") ||
                        run.out.starts_with("{\"processes\":["))
                << run.out;
            EXPECT_EQ(run.out.find("diagnostics"), std::string::npos) << run.out;
        }
    }
}

// A lone surrogate is neither a command word nor a process ID: the first bad argument decides
// the message, as it does for any other text.
TEST(WindowsArguments, UnpairedSurrogatesAreRefusedInOrder) {
    const std::wstring high(1, high_surrogate);
    const std::wstring low(1, low_surrogate);
    const std::string usage = "usage: zul-process <inspect|sample> <pid> [pid...]\n";
    const std::string not_decimal = "process IDs must be positive decimal integers\n";
    const std::string zero = "process ID must be positive\n";
    const std::vector<std::pair<std::vector<std::wstring>, std::string>> cases = {
        {{L"sample" + high, L"12"}, usage},
        {{high}, usage},
        {{L"bogus", high}, usage},
        {{L"inspect", low}, not_decimal},
        {{L"sample", L"12" + high}, not_decimal},
        {{L"inspect", L"12", low + high}, not_decimal},  // a pair in the wrong order
        {{L"sample", L"abc", high}, not_decimal},
        {{L"sample", L"0", high}, zero},
        {{L"inspect", L"4294967296", low}, "process ID out of range\n"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(narrow(command_line(L"zul-process", arguments)));
        const ToolRun run = run_tool(arguments);
        EXPECT_EQ(run.exit_code, 1u);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, message);
    }
}

}  // namespace
}  // namespace e2e
