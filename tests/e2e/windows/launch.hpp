#pragma once
// Starting Windows programs from the tests: the tool with captured output and a time-out, and
// the probe target as a child that the test owns.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// A handle closed exactly once, when its owner goes.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept;
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle();

    HANDLE get() const { return handle_; }
    HANDLE release();
    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = nullptr;
};

// The built programs, as Windows paths: where CMake built them, else beside the test program.
// ZUL_TEST_TOOL in the environment names another copy of the tool to test.
std::wstring tool_path();
std::wstring probe_target_path();

// A Unix path (as CMake knows it) as Wine's drive Z: sees it; Windows paths pass unchanged.
std::wstring windows_path(const std::string& path);

// One argument quoted so that the C runtime splits it back into the same text.
std::wstring quoted(const std::wstring& argument);

// program followed by the quoted arguments.
std::wstring command_line(const std::wstring& program, const std::vector<std::wstring>& arguments);

struct ToolRun {
    DWORD exit_code = 0;
    std::string out;
    std::string err;
    DWORD pid = 0;
    // The tool's creation time in 100-ns ticks since 1601, as GetProcessTimes tells it.
    std::uint64_t created_at = 0;
};

struct ToolOptions {
    // Extra environment entries "NAME=value", added to (or replacing those of) the test's own.
    std::vector<std::wstring> environment{};
    // Given instead of the capture file when set (inheritable): a stream that refuses writes.
    HANDLE stdout_handle = nullptr;
    HANDLE stderr_handle = nullptr;
    // Runs this program instead of the built tool.
    std::wstring program{};
};

// How long a run, or a child's end, is waited for: a guard against one that never ends, which
// then fails its test rather than hold up the suite; not a verdict on speed, which is the
// benchmark's (ctest's own time-out in scripts/test is as long).
inline constexpr DWORD hang_guard_ms = 300000;

// Runs the tool to its end (or the hang guard) with the arguments after the program name.
ToolRun run_tool(const std::vector<std::wstring>& arguments, const ToolOptions& options = {});

// Runs the tool with the exact command line given, program included.
ToolRun run_command_line(const std::wstring& program, std::wstring command_line,
                         const ToolOptions& options = {});

// The tool as a session: `serve` with pipes for its standard input and output, which the test
// writes requests to and reads answers from as it goes.
class ToolSession {
public:
    // Only the environment and the output handles of the options count; with an output handle
    // of its own, answer() has nothing to read.
    explicit ToolSession(const ToolOptions& options = {});
    // Ends the session (closes its input, then ends it if it still runs after the hang guard).
    ~ToolSession();
    ToolSession(const ToolSession&) = delete;
    ToolSession& operator=(const ToolSession&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    DWORD pid() const { return pid_; }
    // Writes every byte to the session's input; false when it no longer reads.
    bool send(const std::string& bytes);
    // The next line the session writes, its line feed included; what there is without one at
    // the end of its output, or when the hang guard runs out.
    std::string answer();
    // Closes the input and waits for the end: the exit code, what the session wrote that
    // answer() had not taken, and its standard error.
    ToolRun finish();

private:
    OwnedHandle process_;
    OwnedHandle input_;
    OwnedHandle output_;
    OwnedHandle errors_;
    DWORD pid_ = 0;
    std::string pending_;
};

// A started probe target, ended (and its handle closed) when the object goes.
class Child {
public:
    Child(OwnedHandle process, DWORD pid) : process_(std::move(process)), pid_(pid) {}
    Child(Child&&) = default;
    Child& operator=(Child&&) = default;
    ~Child();

    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_.get(); }
    // Waits until the child has ended; false when the hang guard ran out first.
    bool wait_for_end() const;

private:
    OwnedHandle process_;
    DWORD pid_ = 0;
};

// Starts probe_target with the mode (and its arguments); for "wait" and "protect", returns only
// once the child said "ready". nullopt when it could not be started or did not get ready.
std::optional<Child> start_probe_target(const std::vector<std::wstring>& arguments);

// True when the tests run under Wine rather than on Windows itself.
bool under_wine();

// True when a process that denies everyone (probe_target protect) is really closed to this
// test and so to the tool it starts: an account holding SeDebugPrivilege opens it anyway.
bool denied_to_us(const Child& child);

// UTF-8 for the assertion messages.
std::string narrow(const std::wstring& text);

}  // namespace e2e
