#include <string_view>

#include "diagnostics/timing_scope.hpp"
#include "text/utf.hpp"
#include "windows/filled_variant.hpp"
#include "windows/variant_reads.hpp"
#include "windows/wide.hpp"

namespace windows {

std::variant<std::optional<std::string>, ProbeError> read_variant_text(
    platform::ComObject* object, std::string_view property) {
    diagnostics::TimingScope scope{"windows::read_variant_text"};
    platform::Variant value{};
    const std::vector<char16_t> name = wide(property);
    if (platform::class_object_get(object, name.data(), 0, &value) < 0) {
        return ProbeError{codes::wmi_property};
    }
    const FilledVariant filled{value};
    if (value.vt == platform::vt_empty || value.vt == platform::vt_null) {
        return std::optional<std::string>{};
    }
    // Exactly VT_BSTR: with VT_ARRAY or VT_BYREF the pointer is not a string.
    if (value.vt != platform::vt_bstr) return ProbeError{codes::wmi_property_type};
    if (value.value.bstr == nullptr) return std::optional<std::string>{};

    // The BSTR's own length, so a zero unit inside the text does not cut it short.
    const std::u16string_view units{value.value.bstr, platform::sys_string_len(value.value.bstr)};
    return std::optional<std::string>{text::utf16_to_utf8(units)};
}

}  // namespace windows
