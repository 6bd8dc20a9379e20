#include "diagnostics/timing_scope.hpp"
#include "windows/bstr.hpp"
#include "windows/com_owner.hpp"
#include "windows/command_line_query.hpp"

namespace windows {

CommandLineResult query_services(platform::ComObject* services,
                                 const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::query_services"};
    if (platform::set_proxy_blanket(services, platform::rpc_c_authn_winnt,
                                    platform::rpc_c_authz_none, platform::rpc_c_authn_level_call,
                                    platform::rpc_c_imp_level_impersonate,
                                    platform::eoac_none) < 0) {
        return ProbeError{codes::wmi_proxy};
    }

    ComOwner enumerator;
    OwnedBstr query = bstr(command_line_query(pids));
    OwnedBstr language = bstr("WQL");
    // Forward-only and immediate: results are fetched one by one, nothing is kept for rewinding.
    const platform::HResult queried = platform::exec_query(
        services, language.get(), query.get(),
        platform::wbem_flag_forward_only | platform::wbem_flag_return_immediately,
        enumerator.out());
    query.free();
    language.free();
    if (queried < 0) return ProbeError{codes::wmi_query};

    CommandLineResult result = collect_enumerator(enumerator.get());
    enumerator.reset();
    return result;
}

}  // namespace windows
