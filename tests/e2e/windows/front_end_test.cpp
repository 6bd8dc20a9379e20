// The command line and the output streams of the Windows build, as a user meets them. Streams
// and arguments that are missing or not valid UTF-16 are in hostile_environment_test.cpp.

#include <gtest/gtest.h>

#include "launch.hpp"

namespace e2e {
namespace {

const std::string usage = "usage: zul-process <inspect|sample> <pid> [pid...]\n";

struct RefusedCommandLine {
    const char* label;
    std::vector<std::wstring> arguments;
    std::string err;
};

// Keeps ctest's test names short: the label, not the bytes of the case.
void PrintTo(const RefusedCommandLine& refused, std::ostream* out) { *out << refused.label; }

class WindowsFrontEnd : public ::testing::TestWithParam<RefusedCommandLine> {};

TEST_P(WindowsFrontEnd, RefusesWithTheMessageAndStatusOne) {
    const ToolRun run = run_tool(GetParam().arguments);
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.err, GetParam().err);
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, WindowsFrontEnd,
    ::testing::Values(
        RefusedCommandLine{"NoArguments", {}, usage},
        RefusedCommandLine{"CommandWordIsCaseSensitive", {L"Sample", L"12"}, usage},
        RefusedCommandLine{"AccentedCommandWord", {L"s\u00E4mple", L"12"}, usage},
        RefusedCommandLine{"NoProcessId", {L"sample"}, "provide at least one process ID\n"},
        RefusedCommandLine{"EmptyArgument", {L"sample", L""},
                           "process IDs must be positive decimal integers\n"},
        RefusedCommandLine{"FullwidthDigits", {L"sample", L"\uFF11\uFF12"},
                           "process IDs must be positive decimal integers\n"},
        RefusedCommandLine{"Emoji", {L"inspect", L"\U0001F600"},
                           "process IDs must be positive decimal integers\n"},
        RefusedCommandLine{"OutOfRange", {L"sample", L"4294967296"}, "process ID out of range\n"},
        RefusedCommandLine{"Zero", {L"inspect", L"12", L"0"}, "process ID must be positive\n"}),
    [](const auto& info) { return std::string(info.param.label); });

// Write ends that refuse every byte.
OwnedHandle read_only_file() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"zul", 0, name);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return OwnedHandle(CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   &inheritable, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                                   nullptr));
}

OwnedHandle pipe_without_reader() {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
        return OwnedHandle();
    }
    CloseHandle(read_end);
    return OwnedHandle(write_end);
}

// Wine's view of the Unix /dev/full: every write fails with "disk full".
OwnedHandle full_device() {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return OwnedHandle(CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));
}

struct RefusingStream {
    const char* label;
    OwnedHandle (*open)();
    // Only Wine has this stream (a Unix device); on Windows itself the case is skipped.
    bool wine_only = false;
};

void skip_unless_available(const RefusingStream& stream) {
    if (stream.wine_only && !under_wine()) {
        GTEST_SKIP() << stream.label << " exists only under Wine";
    }
}

void PrintTo(const RefusingStream& stream, std::ostream* out) { *out << stream.label; }

class WindowsOutputFailure : public ::testing::TestWithParam<RefusingStream> {};

TEST_P(WindowsOutputFailure, StdoutFailureEndsWithStatus101AndTheSystemText) {
    skip_unless_available(GetParam());
    OwnedHandle refusing = GetParam().open();
    ASSERT_TRUE(refusing);
    const ToolRun run = run_tool({L"sample", L"2147483632"},
                                 ToolOptions{.stdout_handle = refusing.get()});
    EXPECT_EQ(run.exit_code, 101u) << run.err;
    const std::string prefix = "failed printing to stdout: ";
    EXPECT_TRUE(run.err.starts_with(prefix)) << run.err;
    EXPECT_GT(run.err.size(), prefix.size() + 1) << "no system error text: " << run.err;
}

TEST_P(WindowsOutputFailure, StderrFailureEndsWithStatus101) {
    skip_unless_available(GetParam());
    OwnedHandle refusing = GetParam().open();
    ASSERT_TRUE(refusing);
    const ToolRun run = run_tool({L"sample"}, ToolOptions{.stderr_handle = refusing.get()});
    EXPECT_EQ(run.exit_code, 101u);
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(Streams, WindowsOutputFailure,
                         ::testing::Values(RefusingStream{"ReadOnlyFile", read_only_file},
                                           RefusingStream{"PipeWithoutReader", pipe_without_reader},
                                           RefusingStream{"FullDevice", full_device, true}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace e2e
