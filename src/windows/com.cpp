// The timed calls behind the COM owners: text made wide, BSTRs allocated, objects released.
#include "windows/com.hpp"

#include "diagnostics/timing_scope.hpp"
#include "text/utf.hpp"

namespace windows {

std::vector<char16_t> wide(std::string_view text) {
    diagnostics::TimingScope scope{"windows::wide"};
    const std::u16string units = text::utf8_to_utf16(text);
    std::vector<char16_t> buffer;
    buffer.reserve(units.size() + 1);
    buffer.assign(units.begin(), units.end());
    buffer.push_back(u'\0');
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

}  // namespace windows
