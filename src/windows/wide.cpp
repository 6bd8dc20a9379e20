#include "windows/wide.hpp"

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

}  // namespace windows
