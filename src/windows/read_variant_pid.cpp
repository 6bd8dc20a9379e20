#include <cstdint>

#include "diagnostics/timing_scope.hpp"
#include "windows/filled_variant.hpp"
#include "windows/variant_reads.hpp"
#include "windows/wide.hpp"

namespace windows {

std::variant<std::uint32_t, ProbeError> read_variant_pid(platform::ComObject* object) {
    diagnostics::TimingScope scope{"windows::read_variant_pid"};
    platform::Variant value{};
    const std::vector<char16_t> name = wide("ProcessId");
    // A failed Get leaves the VARIANT as it was: nothing to clear.
    if (platform::class_object_get(object, name.data(), 0, &value) < 0) {
        return ProbeError{codes::wmi_pid};
    }
    const FilledVariant filled{value};
    if (value.vt != platform::vt_i4 && value.vt != platform::vt_ui4) {
        return ProbeError{codes::wmi_pid_type};
    }
    // Same 32 bits, no range test: a VT_I4 of -1 is the ID 4294967295.
    return static_cast<std::uint32_t>(value.value.int32);
}

}  // namespace windows
