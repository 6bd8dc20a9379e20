#pragma once
// The COM calls of the WMI sequence that fetches command lines on Windows, with neutral types.
// The win32 backend makes the real calls, the fake answers them from a script; Linux reads
// command lines another way (platform/command_line.hpp) and has none of this.
//
// Failures come back as COM reports them: a negative HRESULT.

#include <cstdint>

namespace platform {

// ---------------------------------------------------------------------------------------------
// COM and WMI
// ---------------------------------------------------------------------------------------------

using HResult = std::int32_t;

inline constexpr HResult s_ok = 0;
inline constexpr HResult s_false = 1;
inline constexpr HResult wbem_s_false = 1;
inline constexpr HResult wbem_s_timedout = 0x40004;
inline constexpr HResult e_fail = static_cast<HResult>(0x80004005u);
inline constexpr HResult e_invalidarg = static_cast<HResult>(0x80070057u);
inline constexpr HResult rpc_e_changed_mode = static_cast<HResult>(0x80010106u);
inline constexpr HResult wbem_e_invalid_namespace = static_cast<HResult>(0x8004100Eu);
inline constexpr HResult wbem_e_invalid_query = static_cast<HResult>(0x80041017u);

inline constexpr std::uint32_t coinit_multithreaded = 0;
inline constexpr std::uint32_t clsctx_inproc_server = 1;
inline constexpr std::uint32_t rpc_c_authn_winnt = 10;
inline constexpr std::uint32_t rpc_c_authz_none = 0;
inline constexpr std::uint32_t rpc_c_authn_level_call = 3;
inline constexpr std::uint32_t rpc_c_imp_level_impersonate = 3;
inline constexpr std::uint32_t eoac_none = 0;
// Bounds ConnectServer to two minutes when the service does not answer.
inline constexpr std::int32_t wbem_flag_connect_use_max_wait = 0x80;
inline constexpr std::int32_t wbem_flag_forward_only = 0x20;
inline constexpr std::int32_t wbem_flag_return_immediately = 0x10;
inline constexpr std::int32_t enumerator_timeout_ms = 3000;

// Any COM interface pointer (IWbemLocator, IWbemServices, IEnumWbemClassObject,
// IWbemClassObject); the backend knows which one it handed out.
struct ComObject;

// A BSTR: UTF-16 text whose length the allocator keeps.
using Bstr = char16_t*;

inline constexpr std::uint16_t vt_empty = 0;
inline constexpr std::uint16_t vt_null = 1;
inline constexpr std::uint16_t vt_i4 = 3;
inline constexpr std::uint16_t vt_bstr = 8;
inline constexpr std::uint16_t vt_ui4 = 19;
inline constexpr std::uint16_t vt_array = 0x2000;
inline constexpr std::uint16_t vt_byref = 0x4000;

// Laid out as the 64-bit VARIANT, so the win32 backend passes it to COM as it is.
struct Variant {
    std::uint16_t vt = vt_empty;
    std::uint16_t reserved[3] = {0, 0, 0};
    union {
        std::int32_t int32;
        Bstr bstr;
        void* record[2];
    } value = {.record = {}};  // all 16 bytes: `= {}` would zero only the first member
};
static_assert(sizeof(Variant) == 24, "Variant must match the 64-bit VARIANT");

// CoInitializeEx(reserved, coinit).
HResult co_initialize_ex(void* reserved, std::uint32_t coinit);
// CoUninitialize.
void co_uninitialize();
// CoCreateInstance(CLSID_WbemLocator, no outer object, class_context, IID_IWbemLocator, out).
HResult create_wbem_locator(std::uint32_t class_context, ComObject** locator);
// IWbemLocator::ConnectServer(ns, user, password, locale null; flags; authority, context null).
HResult connect_server(ComObject* locator, Bstr name_space, std::int32_t flags,
                       ComObject** services);
// CoSetProxyBlanket(services, authn, authz, no principal, level, impersonation, no identity,
// capabilities).
HResult set_proxy_blanket(ComObject* services, std::uint32_t authentication,
                          std::uint32_t authorization, std::uint32_t authentication_level,
                          std::uint32_t impersonation_level, std::uint32_t capabilities);
// IWbemServices::ExecQuery(language, query, flags, no context, out).
HResult exec_query(ComObject* services, Bstr language, Bstr query, std::int32_t flags,
                   ComObject** enumerator);
// IEnumWbemClassObject::Next(timeout, count, objects, returned).
HResult enumerator_next(ComObject* enumerator, std::int32_t timeout_ms, std::uint32_t count,
                        ComObject** objects, std::uint32_t* returned);
// IWbemClassObject::Get(name, flags, value, no type, no flavor).
HResult class_object_get(ComObject* object, const char16_t* name, std::int32_t flags,
                         Variant* value);
// IUnknown::Release; the remaining count.
std::uint32_t release(ComObject* object);

Bstr sys_alloc_string(const char16_t* text);
void sys_free_string(Bstr text);
std::uint32_t sys_string_len(Bstr text);
void variant_clear(Variant* value);

}  // namespace platform
