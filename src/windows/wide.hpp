#pragma once
// UTF-8 text as the zero-terminated UTF-16 that COM calls take.

#include <string_view>
#include <vector>

namespace windows {

// The UTF-16 units of `text` followed by one zero unit.
std::vector<char16_t> wide(std::string_view text);

}  // namespace windows
