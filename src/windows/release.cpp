#include "diagnostics/timing_scope.hpp"
#include "windows/com_owner.hpp"

namespace windows {

void release(platform::ComObject* object) {
    diagnostics::TimingScope scope{"windows::release"};
    // The remaining count is of no use: the object is ours to drop, not to inspect.
    if (object != nullptr) platform::release(object);
}

}  // namespace windows
