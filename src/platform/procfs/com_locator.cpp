// The locator and its connection: CoCreateInstance, IWbemLocator::ConnectServer,
// CoSetProxyBlanket, and IUnknown::Release for every object of the service.

#include "platform/platform.hpp"
#include "platform/procfs/com_apartment.hpp"
#include "platform/procfs/com_bstr.hpp"
#include "platform/procfs/com_hresults.hpp"
#include "platform/procfs/com_object.hpp"
#include "platform/procfs/com_text.hpp"

namespace platform {

HResult create_wbem_locator(std::uint32_t class_context, ComObject** locator) {
    if (locator == nullptr) return procfs::e_pointer;
    *locator = nullptr;
    if (!procfs::com_initialized_on_this_thread()) return procfs::co_e_notinitialized;
    // The service lives in the tool's own process, so only an in-process server is offered.
    if ((class_context & clsctx_inproc_server) == 0) return procfs::regdb_e_classnotreg;
    *locator = new procfs::Locator;
    return s_ok;
}

// The flags only bound the wait for a service that does not answer; this one answers at once.
HResult connect_server(ComObject* locator, Bstr name_space, std::int32_t, ComObject** services) {
    if (services == nullptr) return procfs::wbem_e_invalid_parameter;
    *services = nullptr;
    if (procfs::as<procfs::Locator>(locator, ComObject::Kind::locator) == nullptr ||
        name_space == nullptr) {
        return procfs::wbem_e_invalid_parameter;
    }
    if (!procfs::equals_ignoring_case(procfs::bstr_text(name_space), u"ROOT\\CIMV2")) {
        return wbem_e_invalid_namespace;
    }
    *services = new procfs::Services;
    return s_ok;
}

HResult set_proxy_blanket(ComObject* services, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t) {
    // Nothing crosses a process boundary here, so the security settings have nothing to do.
    if (procfs::as<procfs::Services>(services, ComObject::Kind::services) == nullptr) {
        return e_invalidarg;
    }
    return s_ok;
}

std::uint32_t release(ComObject* object) {
    if (object == nullptr) return 0;
    const std::uint32_t remaining = --object->references;
    if (remaining == 0) delete object;
    return remaining;
}

}  // namespace platform
