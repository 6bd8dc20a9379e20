#pragma once
// FILETIME to tick count.

#include <cstdint>

#include "platform/platform.hpp"

namespace windows {

// The 100-ns ticks of a FILETIME: high × 2^32 + low. Scope "windows::filetime", one call per
// converted value.
std::uint64_t filetime(platform::FileTime time);

}  // namespace windows
