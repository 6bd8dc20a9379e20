// COM and WMI through their real interfaces. The neutral ComObject is whichever interface this
// backend handed out for it; each call casts back to the interface its caller was given.

#include <cstddef>

#include "platform/com_calls.hpp"
#include "platform/win32/com_library.hpp"
#include "platform/win32/windows_api.hpp"

#include <wbemidl.h>

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "OLECHAR is UTF-16");
static_assert(sizeof(Variant) == sizeof(VARIANT));
static_assert(offsetof(Variant, vt) == offsetof(VARIANT, vt));
static_assert(offsetof(Variant, value) == offsetof(VARIANT, lVal));
static_assert(offsetof(Variant, value) == offsetof(VARIANT, bstrVal));

template <typename Interface>
Interface* as(ComObject* object) {
    return reinterpret_cast<Interface*>(object);
}

ComObject* neutral(IUnknown* object) { return reinterpret_cast<ComObject*>(object); }

BSTR native(Bstr text) { return reinterpret_cast<BSTR>(text); }

VARIANT* native(Variant* value) { return reinterpret_cast<VARIANT*>(value); }

const win32::ComLibrary* library() { return win32::com_library(); }

}  // namespace

HResult co_initialize_ex(void* reserved, std::uint32_t coinit) {
    if (library() == nullptr) {
        // COM is not there at all: the same answer as a failed initialisation.
        return E_FAIL;
    }
    return library()->co_initialize_ex(reserved, coinit);
}

// The calls below are only reached after co_initialize_ex succeeded, so the library is loaded;
// each still checks, so that no call can jump through a null pointer.

void co_uninitialize() {
    if (library() != nullptr) {
        library()->co_uninitialize();
    }
}

HResult create_wbem_locator(std::uint32_t class_context, ComObject** locator) {
    IWbemLocator* created = nullptr;
    if (library() == nullptr) {
        *locator = nullptr;
        return E_FAIL;
    }
    const HRESULT result =
        library()->co_create_instance(CLSID_WbemLocator, nullptr, class_context,
                                      IID_IWbemLocator, reinterpret_cast<void**>(&created));
    *locator = neutral(created);
    return result;
}

HResult connect_server(ComObject* locator, Bstr name_space, std::int32_t flags,
                       ComObject** services) {
    IWbemServices* connected = nullptr;
    const HRESULT result = as<IWbemLocator>(locator)->ConnectServer(
        native(name_space), nullptr, nullptr, nullptr, flags, nullptr, nullptr, &connected);
    *services = neutral(connected);
    return result;
}

HResult set_proxy_blanket(ComObject* services, std::uint32_t authentication,
                          std::uint32_t authorization, std::uint32_t authentication_level,
                          std::uint32_t impersonation_level, std::uint32_t capabilities) {
    if (library() == nullptr) {
        return E_FAIL;
    }
    return library()->co_set_proxy_blanket(as<IUnknown>(services), authentication,
                                           authorization, nullptr, authentication_level,
                                           impersonation_level, nullptr, capabilities);
}

HResult exec_query(ComObject* services, Bstr language, Bstr query, std::int32_t flags,
                   ComObject** enumerator) {
    IEnumWbemClassObject* results = nullptr;
    const HRESULT result = as<IWbemServices>(services)->ExecQuery(
        native(language), native(query), flags, nullptr, &results);
    *enumerator = neutral(results);
    return result;
}

HResult enumerator_next(ComObject* enumerator, std::int32_t timeout_ms, std::uint32_t count,
                        ComObject** objects, std::uint32_t* returned) {
    static_assert(sizeof(ComObject*) == sizeof(IWbemClassObject*));
    ULONG fetched = *returned;
    const HRESULT result = as<IEnumWbemClassObject>(enumerator)->Next(
        timeout_ms, count, reinterpret_cast<IWbemClassObject**>(objects), &fetched);
    *returned = fetched;
    return result;
}

HResult class_object_get(ComObject* object, const char16_t* name, std::int32_t flags,
                         Variant* value) {
    return as<IWbemClassObject>(object)->Get(reinterpret_cast<const wchar_t*>(name), flags,
                                             native(value), nullptr, nullptr);
}

std::uint32_t release(ComObject* object) { return as<IUnknown>(object)->Release(); }

Bstr sys_alloc_string(const char16_t* text) {
    if (library() == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Bstr>(
        library()->sys_alloc_string(reinterpret_cast<const OLECHAR*>(text)));
}

void sys_free_string(Bstr text) {
    if (library() != nullptr) {
        library()->sys_free_string(native(text));
    }
}

std::uint32_t sys_string_len(Bstr text) {
    return library() != nullptr ? library()->sys_string_len(native(text)) : 0;
}

void variant_clear(Variant* value) {
    if (library() != nullptr) {
        library()->variant_clear(native(value));
    }
}

}  // namespace platform
