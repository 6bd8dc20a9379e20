#include <ctime>

#include "platform/platform.hpp"

namespace platform {

Instant monotonic_now() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return {static_cast<std::uint64_t>(now.tv_sec), static_cast<std::uint32_t>(now.tv_nsec)};
}

}  // namespace platform
