#pragma once
// A fault in the tool itself, not in what it measures: say so on standard error and end.

#include <string_view>

namespace diagnostics {

[[noreturn]] void internal_fault(std::string_view message);

}  // namespace diagnostics
