#pragma once
// Runs the tool under test as a user would: its own process, standard input closed (or a file
// the test names), a guard against a run that never ends.

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

enum class Output {
    captured,     // standard output read back from a file
    full_device,  // standard output is /dev/full
    closed_pipe,  // standard output is a pipe whose reading end is already closed
    closed,       // standard output is not open at all
    // standard output is a non-blocking pipe that the test reads slowly, a little at a time
    slow_nonblocking_pipe,
};

struct RunOptions {
    Output output = Output::captured;
    // Standard error not open at all (else read back from a file).
    bool stderr_closed = false;
    // A file opened read-only as standard input; empty leaves standard input closed.
    std::string input_file;
    // Value of ZUL_DIAGNOSTICS_ENABLED; empty leaves it unset.
    std::string diagnostics;
    // A run still going after this long is killed and fails its test rather than hold up the
    // suite: a guard against a tool that never ends, not a verdict on its speed, which is the
    // benchmark's (ctest's own time-out in scripts/test is as long).
    int timeout_seconds = 300;
    // The tool's address-space limit (RLIMIT_AS) in bytes; 0 leaves the test's own.
    unsigned long address_space_bytes = 0;
    // The tool's limit of open descriptors (RLIMIT_NOFILE); 0 leaves the test's own.
    unsigned long open_files = 0;
    // The tool to run in place of the tool under test (a copy of it, say); empty runs that one.
    std::string program;
    // Words run first, which then run the tool with its arguments (such as unshare and its
    // options); the first is an absolute path.
    std::vector<std::string> launcher;
};

struct RunResult {
    int status = -1;        // exit status; -1 when killed by a signal or timed out
    int signal = 0;         // the signal that ended it, if any
    bool timed_out = false;
    std::string out;
    std::string err;
};

// Launcher words that run the tool as the user nobody, who owns none of the processes the tests
// look at (only root may use them).
inline const std::vector<std::string> as_nobody = {"/usr/bin/setpriv", "--reuid=nobody",
                                                   "--regid=nogroup", "--clear-groups"};

RunResult run_tool(const std::vector<std::string>& arguments, const RunOptions& options = {});

// The tool under test as a session: `serve` in its own process, with pipes for its standard
// input and output, which the test writes requests to and reads answers from as it goes.
class ToolSession {
public:
    // `diagnostics`: the value of ZUL_DIAGNOSTICS_ENABLED; empty leaves it unset.
    explicit ToolSession(const std::string& diagnostics = {});
    // The same with the options of a run that a session heeds: the switch, the descriptor
    // limit, the launcher and the program.
    explicit ToolSession(const RunOptions& options);
    // Ends the session (closes its input, then kills it if it still runs) and reaps it.
    ~ToolSession();
    ToolSession(const ToolSession&) = delete;
    ToolSession& operator=(const ToolSession&) = delete;

    pid_t pid() const { return pid_; }
    // Writes every byte to the session's input; false when it no longer reads.
    bool send(std::string_view bytes);
    // The next line the session writes, its line feed included; what there is without one at
    // the end of its output, or when the hang guard (RunOptions::timeout_seconds) runs out.
    std::string answer();
    // Closes the input and waits for the end: the exit status, and what the session wrote that
    // answer() had not taken, and its standard error.
    RunResult finish();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::FILE* errors_ = nullptr;
    std::string pending_;
    RunResult finished_;
    bool ended_ = false;
};

// The tool under test: ZUL_TEST_TOOL when set (ctest sets it for each tool the tests run),
// else the one built beside the test program.
const std::string& tool_path();

// True when the tool under test was built with AddressSanitizer, whose runtime cannot start
// under an address-space limit, without /proc or under valgrind.
bool tool_has_sanitizers();

// A new folder "/tmp/<prefix>-XXXXXX", removed with everything in it when the object ends;
// path() is empty when it could not be made.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const char* prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A copy of the tool under test (or of `program`) in a folder of its own that every user may
// enter, for runs under another user's identity (the build folder may be closed to them).
// Removed with the object; path() is empty when the copy could not be made.
class ToolCopy {
public:
    explicit ToolCopy(const std::string& program = tool_path());
    const std::string& path() const { return path_; }

private:
    TemporaryFolder folder_{"zul-tool"};
    std::string path_;
};

}  // namespace e2e
