// A process opened through the platform layer as the probes open it, for the tests of the
// platform's calls.
#pragma once

#include <cstdint>

#include "platform/platform.hpp"

namespace test_support {

// Opens with the one access right the probes ask for; closes on scope exit.
class Opened {
public:
    explicit Opened(platform::Pid pid)
        : handle_(platform::open_process(platform::process_query_limited_information, false, pid)),
          error_(handle_ == nullptr ? platform::last_error() : 0) {}
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    ~Opened() { platform::close_handle(handle_); }

    platform::Handle get() const { return handle_; }
    std::uint32_t error() const { return error_; }

private:
    platform::Handle handle_;
    std::uint32_t error_;
};

}  // namespace test_support
