// The Windows build started in a hostile environment: standard handles that are not open, a
// diagnostics switch and arguments that are not valid UTF-16. Each ends with its documented
// status, never a crash and never a partial document. One table per kind of hostility.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "launch.hpp"
#include "support/strict_json.hpp"

namespace e2e {
namespace {

constexpr wchar_t high_surrogate = 0xD800;
constexpr wchar_t low_surrogate = 0xDC00;

const std::wstring high(1, high_surrogate);
const std::wstring low(1, low_surrogate);

// The single key of the document the tool printed, or "" when it is not one strict line.
std::string only_key(const std::string& out) {
    const auto document = testing_support::read_json_line(out);
    if (!document || document->members.size() != 1) return "";
    return document->members[0].first;
}

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

// Keeps ctest's test names short: the label, not the bytes of the case.
void PrintTo(const MissingStream& c, std::ostream* out) { *out << c.label; }

class WindowsMissingStream : public ::testing::TestWithParam<MissingStream> {};

TEST_P(WindowsMissingStream, EndsWithItsStatus) {
    const MissingStream& c = GetParam();
    ToolOptions options;
    (c.stdout_missing ? options.stdout_handle : options.stderr_handle) = c.handle();
    const ToolRun run = run_tool(c.arguments, options);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    if (c.stdout_missing) {
        EXPECT_TRUE(run.err.starts_with("failed printing to stdout: ")) << run.err;
        // The reason must be the handle, not a stale "no error" from an earlier call.
        EXPECT_EQ(run.err.find("success"), std::string::npos) << run.err;
    } else if (c.exit_code == 0) {
        EXPECT_EQ(only_key(run.out), "samples") << run.out;
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

struct SwitchValue {
    const char* label;
    std::wstring value;
};

void PrintTo(const SwitchValue& c, std::ostream* out) { *out << c.label; }

class WindowsDiagnosticsSwitch : public ::testing::TestWithParam<SwitchValue> {};

TEST_P(WindowsDiagnosticsSwitch, ThatIsNotValidUtf16IsOff) {
    for (const wchar_t* command : {L"sample", L"inspect"}) {
        SCOPED_TRACE(narrow(command));
        const ToolRun run =
            run_tool({command, L"2147483632"},
                     ToolOptions{.environment = {L"ZUL_DIAGNOSTICS_ENABLED=" + GetParam().value}});
        EXPECT_EQ(run.exit_code, 0u) << run.err;
        EXPECT_EQ(only_key(run.out), command == std::wstring(L"sample") ? "samples" : "processes")
            << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Values, WindowsDiagnosticsSwitch,
                         ::testing::Values(SwitchValue{"HighSurrogate", high},
                                           SwitchValue{"OneThenHighSurrogate", L"1" + high},
                                           SwitchValue{"OneThenLowSurrogate", L"1" + low},
                                           SwitchValue{"LowSurrogateThenTrue", low + L"true"}),
                         [](const auto& info) { return std::string(info.param.label); });

const std::string usage = "usage: zul-process <inspect|sample> <pid> [pid...]\n";
const std::string not_decimal = "process IDs must be positive decimal integers\n";

struct UnpairedArguments {
    const char* label;
    std::vector<std::wstring> arguments;
    std::string err;
};

void PrintTo(const UnpairedArguments& c, std::ostream* out) { *out << c.label; }

class WindowsUnpairedSurrogates : public ::testing::TestWithParam<UnpairedArguments> {};

// A lone surrogate is neither a command word nor a process ID: the first bad argument decides
// the message, as it does for any other text.
TEST_P(WindowsUnpairedSurrogates, AreRefusedInOrder) {
    const ToolRun run = run_tool(GetParam().arguments);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, WindowsUnpairedSurrogates,
    ::testing::Values(
        UnpairedArguments{"InTheCommandWord", {L"sample" + high, L"12"}, usage},
        UnpairedArguments{"AsTheOnlyArgument", {high}, usage},
        UnpairedArguments{"AfterAnUnknownCommandWord", {L"bogus", high}, usage},
        UnpairedArguments{"AsAnId", {L"inspect", low}, not_decimal},
        UnpairedArguments{"AtTheEndOfAnId", {L"sample", L"12" + high}, not_decimal},
        // A pair in the wrong order.
        UnpairedArguments{"LowBeforeHigh", {L"inspect", L"12", low + high}, not_decimal},
        UnpairedArguments{"AfterAnIdThatIsNotDecimal", {L"sample", L"abc", high}, not_decimal},
        UnpairedArguments{"AfterAZeroId", {L"sample", L"0", high}, "process ID must be positive\n"},
        UnpairedArguments{"AfterAnIdOutOfRange", {L"inspect", L"4294967296", low},
                          "process ID out of range\n"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace e2e
