#pragma once
// One run of the tool under strace and the system calls it made: a cost shown by counting
// calls, never by timing them.

#include <cstddef>
#include <string>
#include <vector>

#include "e2e/linux/tool_run.hpp"

namespace e2e {

// Whether strace is there and may trace here.
bool strace_works();

struct TracedRun {
    RunResult run;
    std::vector<std::string> calls;  // one line each, as strace writes them

    // How many calls of `name` there were.
    std::size_t count(const std::string& name) const;

    // How many of them named a file of one thread: a relative path with a slash in it
    // ("task/<tid>/stat" from the process's directory, "<tid>/stat" from its task directory),
    // where the process's own files are a bare name and everything else an absolute path.
    std::size_t count_on_thread_files(const std::string& name) const;

    // How many of them named exactly `path`, such as a file of the process's own directory.
    std::size_t count_on(const std::string& name, const std::string& path) const;
};

// The tool run with `arguments` under strace, tracing `calls` (strace's trace= list), after
// the `launcher` words and with `program` in place of the tool under test when given.
TracedRun traced_run(const std::vector<std::string>& arguments, const std::string& calls,
                     const std::vector<std::string>& launcher = {},
                     const std::string& program = {});

}  // namespace e2e
