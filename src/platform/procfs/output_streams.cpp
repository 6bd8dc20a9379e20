#include <cerrno>
#include <cstring>
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
