#include "e2e/linux/traced_run.hpp"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <unistd.h>

namespace e2e {
namespace {

constexpr const char* strace_path = "/usr/bin/strace";

// The path a call names, its first quoted argument; nullopt when it names none.
std::optional<std::string> path_of(const std::string& line, std::size_t call) {
    const auto open = line.find('"', call);
    const auto close = open == std::string::npos ? open : line.find('"', open + 1);
    if (close == std::string::npos) return std::nullopt;
    return line.substr(open + 1, close - open - 1);
}

template <typename Accept>
std::size_t count_calls(const std::vector<std::string>& calls, const std::string& name,
                        Accept accept) {
    std::size_t found = 0;
    for (const std::string& line : calls) {
        const auto call = line.find(name + "(");
        if (call == std::string::npos || (call != 0 && line[call - 1] != ' ')) continue;
        if (accept(path_of(line, call))) ++found;
    }
    return found;
}

}  // namespace

bool strace_works() {
    if (::access(strace_path, X_OK) != 0) return false;
    const std::string command = std::string{strace_path} + " -qq -o /dev/null /bin/true";
    return std::system(command.c_str()) == 0;
}

std::size_t TracedRun::count(const std::string& name) const {
    return count_calls(calls, name, [](const std::optional<std::string>&) { return true; });
}

std::size_t TracedRun::count_on_thread_files(const std::string& name) const {
    return count_calls(calls, name, [](const std::optional<std::string>& path) {
        return path && !path->empty() && (*path)[0] != '/' &&
               path->find('/') != std::string::npos;
    });
}

std::size_t TracedRun::count_on(const std::string& name, const std::string& path) const {
    return count_calls(calls, name,
                       [&](const std::optional<std::string>& named) { return named == path; });
}

TracedRun traced_run(const std::vector<std::string>& arguments, const std::string& calls,
                     const std::vector<std::string>& launcher, const std::string& program) {
    TracedRun result;
    char log[] = "/tmp/zul-strace-XXXXXX";
    const int fd = ::mkstemp(log);
    if (fd < 0) {
        result.run.err = "no file for strace's log";
        return result;
    }
    ::close(fd);
    // LeakSanitizer cannot run under a tracer; the leak checks belong to the untraced runs.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    RunOptions options;
    options.launcher = {"/usr/bin/env",
                        "ASAN_OPTIONS=" + std::string{sanitizer != nullptr ? sanitizer : ""} +
                            ":detect_leaks=0",
                        strace_path, "-f", "-qq", "-o", log, "-e", "trace=" + calls};
    options.launcher.insert(options.launcher.end(), launcher.begin(), launcher.end());
    options.program = program;
    result.run = run_tool(arguments, options);
    std::ifstream lines{log};
    for (std::string line; std::getline(lines, line);) result.calls.push_back(line);
    ::unlink(log);
    return result;
}

}  // namespace e2e
