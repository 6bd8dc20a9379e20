#include "diagnostics/registry.hpp"
#include "diagnostics/timing_scope.hpp"

namespace diagnostics {

bool enabled() {
    const platform::Instant start = platform::monotonic_now();
    // Byte for byte: no trimming, no case folding; unset or not Unicode is off.
    const std::optional<std::string> value =
        platform::environment_variable("ZUL_DIAGNOSTICS_ENABLED");
    if (!value || (*value != "1" && *value != "true")) return false;
    record_since(self_enabled, start);
    return true;
}

}  // namespace diagnostics
