#include "windows/bstr.hpp"

#include "diagnostics/timing_scope.hpp"
#include "windows/wide.hpp"

namespace windows {

OwnedBstr bstr(std::string_view text) {
    diagnostics::TimingScope scope{"windows::bstr"};
    const std::vector<char16_t> buffer = wide(text);
    return OwnedBstr{platform::sys_alloc_string(buffer.data())};
}

}  // namespace windows
