#pragma once
// Ownership of one open process handle.

#include "platform/platform.hpp"

namespace windows {

// Owns an open process handle from the moment OpenProcess returns it. Move-only; destroying
// (or closing) an owning handle runs windows::drop_handle on it exactly once, and a moved-from
// ProcessHandle owns nothing.
class ProcessHandle {
public:
    explicit ProcessHandle(platform::Handle handle) noexcept : handle_(handle) {}
    ~ProcessHandle();

    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    platform::Handle get() const noexcept { return handle_; }
    bool owns() const noexcept { return handle_ != nullptr; }

    // Closes the handle now rather than at destruction; afterwards it owns nothing.
    void close() noexcept;

private:
    platform::Handle handle_ = nullptr;
};

}  // namespace windows
