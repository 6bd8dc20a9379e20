#pragma once
// The COM and automation functions, resolved from ole32 and oleaut32 on first use. Loading those
// libraries at start-up costs more than a whole `sample` run under Wine, and only `inspect`
// needs them.

#include "platform/win32/windows_api.hpp"

#include <objbase.h>
#include <oleauto.h>

namespace platform::win32 {

struct ComLibrary {
    decltype(&CoInitializeEx) co_initialize_ex = nullptr;
    decltype(&CoUninitialize) co_uninitialize = nullptr;
    decltype(&CoCreateInstance) co_create_instance = nullptr;
    decltype(&CoSetProxyBlanket) co_set_proxy_blanket = nullptr;
    decltype(&SysAllocString) sys_alloc_string = nullptr;
    decltype(&SysFreeString) sys_free_string = nullptr;
    decltype(&SysStringLen) sys_string_len = nullptr;
    decltype(&VariantClear) variant_clear = nullptr;
};

// Every function resolved, or null when a library or a function is missing (then the last error
// tells why). Loaded once; the libraries stay loaded until the process ends.
const ComLibrary* com_library();

}  // namespace platform::win32
