#include "diagnostics/timing_scope.hpp"

#include "diagnostics/registry.hpp"

namespace diagnostics {

TimingScope::TimingScope(std::string_view name) : name_(name) {
    if (detail::held == detail::Held::off) return;
    const platform::Instant opening = platform::monotonic_now();
    if (!enabled()) return;
    // The start is read after the check, so the check counts as the opening's cost only.
    start_ = platform::monotonic_now();
    record_since(self_new, opening);
}

TimingScope::~TimingScope() {
    // An active scope always records: the switch is not consulted again.
    if (!start_) return;
    const platform::Instant closing = platform::monotonic_now();
    record_elapsed(name_, *start_);
    record_since(self_drop, closing);
}

void record_elapsed(std::string_view name, platform::Instant start) {
    const Micros micros = micros_since(start);
    const platform::Instant recording = platform::monotonic_now();
    record(name, micros);
    record_since(self_record, recording);
}

}  // namespace diagnostics
