#pragma once
// Creation times as the decimal text the inspect rows print.

#include <cstdint>
#include <string>

namespace windows {

// Digits only, no leading zeros, "0" for zero.
std::string tick_text(std::uint64_t ticks);

}  // namespace windows
