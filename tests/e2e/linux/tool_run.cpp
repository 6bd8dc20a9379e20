#include "e2e/linux/tool_run.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "support/child_pipes.hpp"

extern char** environ;

namespace e2e {
namespace {

std::string read_all(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        text.append(chunk, got);
    }
    return text;
}

// This environment without the switch, plus the switch when `value` is not empty.
std::vector<std::string> environment_with(const std::string& value) {
    constexpr std::string_view name = "ZUL_DIAGNOSTICS_ENABLED=";
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string_view{*entry}.substr(0, name.size()) != name) {
            entries.emplace_back(*entry);
        }
    }
    if (!value.empty()) {
        entries.push_back(std::string{name} + value);
    }
    return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (auto& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Runs in the child between fork and exec: only async-signal-safe calls, then exec or _exit.
[[noreturn]] void become_tool(char* const* argv, char* const* envp, int in_fd, int out_fd,
                              int err_fd, unsigned long address_space_bytes,
                              unsigned long open_files) {
    if (in_fd == STDIN_FILENO) {
        ::fcntl(STDIN_FILENO, F_SETFD, 0);  // dup2 onto itself would keep close-on-exec
    } else if (in_fd >= 0) {
        ::dup2(in_fd, STDIN_FILENO);
    } else {
        ::close(STDIN_FILENO);
    }
    if (out_fd >= 0) {
        ::dup2(out_fd, STDOUT_FILENO);
    } else {
        ::close(STDOUT_FILENO);
    }
    if (err_fd >= 0) {
        ::dup2(err_fd, STDERR_FILENO);
    } else {
        ::close(STDERR_FILENO);
    }
    ::signal(SIGPIPE, SIG_DFL);
    if (address_space_bytes != 0) {
        const rlimit limit{address_space_bytes, address_space_bytes};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
    }
    if (open_files != 0) {
        const rlimit limit{open_files, open_files};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(126);
    }
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

const std::string& tool_path() {
    static const std::string path = [] {
        const char* chosen = std::getenv("ZUL_TEST_TOOL");
        return std::string{chosen != nullptr && *chosen != '\0' ? chosen : ZUL_PROCESS_PATH};
    }();
    return path;
}

bool tool_has_sanitizers() {
    // A program built with AddressSanitizer names its runtime's entry, whether it links the
    // runtime statically or not.
    static const bool sanitized = [] {
        std::ifstream file{tool_path(), std::ios::binary | std::ios::ate};
        const std::streamoff size = std::max<std::streamoff>(file.tellg(), 0);
        std::string bytes(static_cast<std::size_t>(size), '\0');
        file.seekg(0);
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return bytes.find("__asan_init") != std::string::npos;
    }();
    return sanitized;
}

RunResult run_tool(const std::vector<std::string>& arguments, const RunOptions& options) {
    std::vector<std::string> words = options.launcher;
    words.push_back(options.program.empty() ? tool_path() : options.program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    const auto argv = pointers_to(words);
    auto environment = environment_with(options.diagnostics);
    const auto envp = pointers_to(environment);

    std::FILE* out_file = std::tmpfile();
    std::FILE* err_file = std::tmpfile();
    int out_fd = ::fileno(out_file);
    int extra_fd = -1;
    if (options.output == Output::full_device) {
        extra_fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        out_fd = extra_fd;
    } else if (options.output == Output::closed_pipe) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            ::close(ends[0]);
            extra_fd = ends[1];
            out_fd = extra_fd;
        }
    } else if (options.output == Output::closed) {
        out_fd = -1;
    }
    int slow_reader = -1;
    if (options.output == Output::slow_nonblocking_pipe) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            slow_reader = ends[0];
            extra_fd = ends[1];
            out_fd = extra_fd;
        }
    }

    const int in_fd = options.input_file.empty()
                          ? -1
                          : ::open(options.input_file.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t child = ::fork();
    if (child == 0) {
        become_tool(argv.data(), envp.data(), in_fd, out_fd,
                    options.stderr_closed ? -1 : ::fileno(err_file), options.address_space_bytes,
                    options.open_files);
    }
    if (extra_fd >= 0) {
        ::close(extra_fd);
    }
    if (in_fd >= 0) {
        ::close(in_fd);
    }

    RunResult result;
    // One small read per turn of the loop: the tool meets a full pipe again and again.
    std::string slowly_read;
    auto read_a_little = [&] {
        char chunk[4096];
        const auto got = ::read(slow_reader, chunk, sizeof(chunk));
        if (got > 0) slowly_read.append(chunk, static_cast<std::size_t>(got));
        return got;
    };
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    int wait_status = 0;
    for (;;) {
        if (slow_reader >= 0) {
            read_a_little();
        }
        const pid_t done = ::waitpid(child, &wait_status, WNOHANG);
        if (done == child) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &wait_status, 0);
            result.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(wait_status) && !result.timed_out) {
        result.status = WEXITSTATUS(wait_status);
    } else if (WIFSIGNALED(wait_status)) {
        result.signal = WTERMSIG(wait_status);
    }
    result.out = read_all(out_file);
    if (slow_reader >= 0) {
        while (read_a_little() > 0) {
        }
        ::close(slow_reader);
        result.out = std::move(slowly_read);
    }
    result.err = read_all(err_file);
    std::fclose(out_file);
    std::fclose(err_file);
    return result;
}

ToolSession::ToolSession(const std::string& diagnostics)
    : ToolSession([&] {
          RunOptions options;
          options.diagnostics = diagnostics;
          return options;
      }()) {}

ToolSession::ToolSession(const RunOptions& options) {
    // A session that has ended must fail the test's write, not end the test by a signal.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> words = options.launcher;
    words.push_back(options.program.empty() ? tool_path() : options.program);
    words.emplace_back("serve");
    const auto argv = pointers_to(words);
    auto environment = environment_with(options.diagnostics);
    const auto envp = pointers_to(environment);
    test_support::ChildPipes pipes;
    if (!pipes.made()) return;
    errors_ = std::tmpfile();
    pid_ = ::fork();
    if (pid_ == 0) {
        become_tool(argv.data(), envp.data(), pipes.child_input(), pipes.child_output(),
                    ::fileno(errors_), 0, options.open_files);
    }
    pipes.close_child_ends();
    input_ = pipes.release_writing_end();
    output_ = pipes.release_reading_end();
}

ToolSession::~ToolSession() {
    if (!ended_ && pid_ > 0) {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
    if (errors_ != nullptr) std::fclose(errors_);
}

bool ToolSession::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto written = ::write(input_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string ToolSession::answer() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    for (;;) {
        const auto feed = pending_.find('\n');
        if (feed != std::string::npos) {
            std::string line = pending_.substr(0, feed + 1);
            pending_.erase(0, feed + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{.fd = output_, .events = POLLIN, .revents = 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return std::exchange(pending_, {});
        }
        char chunk[65536];
        const auto got = ::read(output_, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::exchange(pending_, {});
        pending_.append(chunk, static_cast<std::size_t>(got));
    }
}

RunResult ToolSession::finish() {
    if (ended_) return finished_;
    ended_ = true;
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    RunResult& result = finished_;
    for (std::string rest; !(rest = answer()).empty();) result.out += rest;
    int wait_status = 0;
    ::waitpid(pid_, &wait_status, 0);
    if (WIFEXITED(wait_status)) {
        result.status = WEXITSTATUS(wait_status);
    } else if (WIFSIGNALED(wait_status)) {
        result.signal = WTERMSIG(wait_status);
    }
    if (errors_ != nullptr) result.err = read_all(errors_);
    return result;
}

TemporaryFolder::TemporaryFolder(const char* prefix) {
    std::string pattern = std::string{"/tmp/"} + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = std::move(pattern);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

ToolCopy::ToolCopy(const std::string& program) {
    namespace fs = std::filesystem;
    if (folder_.path().empty()) return;
    std::error_code failed;
    const fs::path copy = fs::path{folder_.path()} / fs::path{program}.filename();
    fs::permissions(folder_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec,
                    failed);
    if (!failed) fs::copy_file(program, copy, failed);
    if (!failed) {
        fs::permissions(copy, fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add, failed);
    }
    if (!failed) path_ = copy.string();
}

}  // namespace e2e
