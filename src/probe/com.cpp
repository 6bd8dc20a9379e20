// The timed calls behind the COM owners: text made wide, BSTRs allocated, objects released.
#include "probe/com.hpp"

#include "diagnostics/timing_scope.hpp"
#include "text/utf.hpp"

namespace probe {

std::vector<char16_t> wide(std::string_view text) {
    diagnostics::TimingScope scope{"windows::wide"};
    // Measured, then converted straight into the one buffer handed back.
    std::vector<char16_t> buffer(text::utf16_length(text) + 1);
    text::utf8_to_utf16(text, buffer.data());
    buffer.back() = u'\0';
    return buffer;
}

OwnedBstr bstr(std::string_view text) {
    diagnostics::TimingScope scope{"windows::bstr"};
    const std::vector<char16_t> buffer = wide(text);
    return OwnedBstr{platform::sys_alloc_string(buffer.data())};
}

void release(platform::ComObject* object) {
    diagnostics::TimingScope scope{"windows::release"};
    // The remaining count is of no use: the object is ours to drop, not to inspect.
    if (object != nullptr) platform::release(object);
}

}  // namespace probe
