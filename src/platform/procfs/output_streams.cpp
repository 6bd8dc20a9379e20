#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "platform/platform.hpp"

namespace platform {

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

}  // namespace platform
