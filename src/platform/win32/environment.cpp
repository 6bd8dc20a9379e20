// Environment variables from the process environment block, converted strictly: a value that is
// not valid UTF-16 counts as unset rather than as some replacement text.

#include "platform/platform.hpp"
#include "platform/win32/windows_api.hpp"
#include "text/utf.hpp"

namespace platform {

std::optional<std::string> environment_variable(const char* name) {
    const std::u16string wide_name = text::utf8_to_utf16(name);
    const auto* lpName = reinterpret_cast<const wchar_t*>(wide_name.c_str());

    std::u16string value(64, u'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD needed = GetEnvironmentVariableW(
            lpName, reinterpret_cast<wchar_t*>(value.data()), static_cast<DWORD>(value.size()));
        if (needed == 0) {
            // Zero is both "unset" and "set to the empty text"; only the last error tells.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string{};
        }
        if (needed < value.size()) {
            value.resize(needed);
            return text::utf16_to_utf8_strict(value);
        }
        // Too small: `needed` counts the terminating zero. The variable may grow in between,
        // hence the loop.
        value.resize(needed);
    }
}

}  // namespace platform
