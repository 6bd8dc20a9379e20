#include "platform/win32/com_library.hpp"

namespace platform::win32 {
namespace {

template <typename Function>
bool resolve(HMODULE module, const char* name, Function& function) {
    // Through void*: GetProcAddress's FARPROC has no parameters, the real function has.
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

HMODULE load_system_library(const wchar_t* name) {
    // Only from the system folder: a DLL of the same name beside the tool must not be picked up.
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

bool load(ComLibrary& library) {
    HMODULE ole32 = load_system_library(L"ole32.dll");
    HMODULE oleaut32 = load_system_library(L"oleaut32.dll");
    return ole32 != nullptr && oleaut32 != nullptr &&
           resolve(ole32, "CoInitializeEx", library.co_initialize_ex) &&
           resolve(ole32, "CoUninitialize", library.co_uninitialize) &&
           resolve(ole32, "CoCreateInstance", library.co_create_instance) &&
           resolve(ole32, "CoSetProxyBlanket", library.co_set_proxy_blanket) &&
           resolve(oleaut32, "SysAllocString", library.sys_alloc_string) &&
           resolve(oleaut32, "SysFreeString", library.sys_free_string) &&
           resolve(oleaut32, "SysStringLen", library.sys_string_len) &&
           resolve(oleaut32, "VariantClear", library.variant_clear);
}

}  // namespace

const ComLibrary* com_library() {
    static ComLibrary library;
    static const bool loaded = load(library);
    return loaded ? &library : nullptr;
}

}  // namespace platform::win32
