#pragma once
// The diagnostics switch and the timing guard that every measured operation opens first.

#include <optional>
#include <string_view>

#include "platform/platform.hpp"

namespace diagnostics {

// True when ZUL_DIAGNOSTICS_ENABLED is exactly "1" or "true"; read afresh on every call. A
// check that answers true records itself as "diagnostics::enabled".
bool enabled();

// Records the time from its opening to its end under `name` while the switch was on at
// opening; inert otherwise. `name` must be a string literal: the registry keeps a reference.
class TimingScope {
public:
    explicit TimingScope(std::string_view name);
    ~TimingScope();

    TimingScope(const TimingScope&) = delete;
    TimingScope& operator=(const TimingScope&) = delete;
    TimingScope(TimingScope&&) = delete;
    TimingScope& operator=(TimingScope&&) = delete;

private:
    std::string_view name_;
    std::optional<platform::Instant> start_;  // present while the scope is active
};

// One call of `name` lasting from `start` until now, plus the self-measurement of the record.
// `name` must be a string literal.
void record_elapsed(std::string_view name, platform::Instant start);

}  // namespace diagnostics
