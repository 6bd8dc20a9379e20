// The run's services in the order a run meets them: the arguments main handed over, an
// environment variable (the diagnostics switch), the monotonic clock of the timing scopes,
// the output streams the document and the messages are written to, and last the input a
// session reads its requests from.

#include "platform/procfs/startup_services.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "platform/platform.hpp"
#include "text/utf.hpp"

namespace procfs {
namespace {

int argument_count = 0;
char** argument_values = nullptr;

}  // namespace

void remember_arguments(int argc, char** argv) {
    argument_count = argc;
    argument_values = argv;
}

}  // namespace procfs

namespace platform {

std::vector<std::string> arguments() {
    std::vector<std::string> list;
    for (int index = 1; index < procfs::argument_count; ++index) {
        list.push_back(text::sanitize_utf8(procfs::argument_values[index]));
    }
    return list;
}

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || !text::is_valid_utf8(value)) {
        return std::nullopt;
    }
    return std::string{value};
}

Instant monotonic_now() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return {static_cast<std::uint64_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_nsec)};
}

std::optional<std::string> write(Stream stream, std::string_view bytes) {
    const int fd = stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO;
    while (!bytes.empty()) {
        const auto written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A parent handed over a non-blocking descriptor: wait until the reader has
                // made room, as a blocking write would have. POLLERR and POLLHUP also wake
                // us; the next write then reports what went wrong.
                pollfd writable{.fd = fd, .events = POLLOUT, .revents = 0};
                if (::poll(&writable, 1, -1) < 0 && errno != EINTR) {
                    return std::string{std::strerror(errno)};
                }
                continue;
            }
            return std::string{std::strerror(errno)};
        }
        if (written == 0) {
            // Never expected from a regular descriptor; stop rather than spin.
            return std::string{std::strerror(EIO)};
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

std::optional<std::string> read_input(char* buffer, std::size_t room, std::size_t& got) {
    got = 0;
    for (;;) {
        const auto read = ::read(STDIN_FILENO, buffer, room);
        if (read >= 0) {
            got = static_cast<std::size_t>(read);
            return std::nullopt;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A parent handed over a non-blocking descriptor: wait for the next bytes, as a
            // blocking read would have. POLLHUP wakes us too; the next read then says 0.
            pollfd readable{.fd = STDIN_FILENO, .events = POLLIN, .revents = 0};
            if (::poll(&readable, 1, -1) < 0 && errno != EINTR) {
                return std::string{std::strerror(errno)};
            }
            continue;
        }
        return std::string{std::strerror(errno)};
    }
}

bool wait_for_input(std::uint32_t milliseconds) {
    pollfd readable{.fd = STDIN_FILENO, .events = POLLIN, .revents = 0};
    // A signal that cuts the wait short, or a poll that fails, leaves it to the read.
    const int timeout = milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
    return ::poll(&readable, 1, timeout) != 0;
}

}  // namespace platform
