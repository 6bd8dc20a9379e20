// CoInitializeEx / CoUninitialize: a count per thread. The first initialisation answers S_OK,
// every further one S_FALSE; each needs its own CoUninitialize. A thread may not switch its
// concurrency model while it is initialised.

#include <cstdint>

#include "platform/platform.hpp"
#include "platform/procfs/com_apartment.hpp"

namespace {

// The only flag that decides the concurrency model; the others are hints.
constexpr std::uint32_t coinit_apartmentthreaded = 0x2;

struct Apartment {
    std::uint32_t initializations = 0;
    std::uint32_t model = 0;
};

thread_local Apartment apartment;

}  // namespace

namespace procfs {

bool com_initialized_on_this_thread() { return apartment.initializations > 0; }

}  // namespace procfs

namespace platform {

HResult co_initialize_ex(void* reserved, std::uint32_t coinit) {
    if (reserved != nullptr) return e_invalidarg;
    if (apartment.initializations == 0) {
        apartment.model = coinit & coinit_apartmentthreaded;
        apartment.initializations = 1;
        return s_ok;
    }
    if (apartment.model != (coinit & coinit_apartmentthreaded)) return rpc_e_changed_mode;
    ++apartment.initializations;
    return s_false;
}

void co_uninitialize() {
    if (apartment.initializations > 0) --apartment.initializations;
}

}  // namespace platform
