#include "diagnostics/registry.hpp"
#include "diagnostics/timing_scope.hpp"

namespace diagnostics {

bool enabled() {
    if (detail::held == detail::Held::off) return false;
    const platform::Instant start = platform::monotonic_now();
    if (detail::held == detail::Held::on) {
        record_since(self_enabled, start);
        return true;
    }
    // Byte for byte: no trimming, no case folding; unset or not Unicode is off.
    const std::optional<std::string> value =
        platform::environment_variable("ZUL_DIAGNOSTICS_ENABLED");
    if (!value || (*value != "1" && *value != "true")) return false;
    record_since(self_enabled, start);
    return true;
}

HeldSwitch::HeldSwitch() : before_(detail::held) {
    detail::held = detail::Held::no;
    detail::held = enabled() ? detail::Held::on : detail::Held::off;
}

HeldSwitch::~HeldSwitch() { detail::held = before_; }

}  // namespace diagnostics
