#include "windows/process_identity.hpp"

namespace windows {

IdentityList collect_identities(const std::vector<std::uint32_t>& pids) {
    IdentityList identities;
    identities.reserve(pids.size());
    for (const std::uint32_t pid : pids) {
        identities.push_back(IdentityEntry{pid, handle_identity(pid)});
    }
    return identities;
}

}  // namespace windows
