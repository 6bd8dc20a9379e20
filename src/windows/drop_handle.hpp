#pragma once
// Closing a process handle.

#include "platform/platform.hpp"

namespace windows {

// CloseHandle under the scope "windows::drop_handle". A failed close changes nothing and is
// not reported. Only ProcessHandle calls it, so every handle is closed exactly once.
void drop_handle(platform::Handle handle) noexcept;

}  // namespace windows
