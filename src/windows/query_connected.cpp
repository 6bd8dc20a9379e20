#include "diagnostics/timing_scope.hpp"
#include "windows/bstr.hpp"
#include "windows/com_owner.hpp"
#include "windows/command_line_query.hpp"

namespace windows {

CommandLineResult query_connected(platform::ComObject* locator,
                                  const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::query_connected"};
    ComOwner services;
    OwnedBstr name_space = bstr("ROOT\\CIMV2");
    const platform::HResult connected =
        platform::connect_server(locator, name_space.get(), services.out());
    name_space.free();
    if (connected < 0) return ProbeError{codes::wmi_connect};

    CommandLineResult result = query_services(services.get(), pids);
    services.reset();
    return result;
}

}  // namespace windows
