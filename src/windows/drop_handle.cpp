#include "windows/drop_handle.hpp"

#include "diagnostics/timing_scope.hpp"

namespace windows {

void drop_handle(platform::Handle handle) noexcept {
    diagnostics::TimingScope scope{"windows::drop_handle"};
    platform::close_handle(handle);
}

}  // namespace windows
