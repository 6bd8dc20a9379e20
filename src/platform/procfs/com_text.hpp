#pragma once
// Name comparison as WMI does it: without regard to ASCII case.

#include <string_view>

namespace procfs {

bool equals_ignoring_case(std::u16string_view left, std::u16string_view right);

}  // namespace procfs
