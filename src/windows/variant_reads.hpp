#pragma once
// Reading one property of a WMI result object.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/platform.hpp"
#include "windows/probe_error.hpp"

namespace windows {

// "ProcessId" as VT_I4 or VT_UI4, its 32 bits read as unsigned.
std::variant<std::uint32_t, ProbeError> read_variant_pid(platform::ComObject* object);

// A text property: nullopt when the value is absent (VT_EMPTY, VT_NULL or a null BSTR).
std::variant<std::optional<std::string>, ProbeError> read_variant_text(
    platform::ComObject* object, std::string_view property);

}  // namespace windows
