#pragma once
// The diagnostics switch and the timing guard that every measured operation opens first.

#include <optional>
#include <string_view>

#include "platform/platform.hpp"

namespace diagnostics {

// True when ZUL_DIAGNOSTICS_ENABLED is exactly "1" or "true"; read afresh on every call, unless
// a HeldSwitch holds the answer on this thread. A check that answers true records itself as
// "diagnostics::enabled".
bool enabled();

namespace detail {
enum class Held : unsigned char { no, off, on };
// What a HeldSwitch holds on this thread: read by every scope, so kept where a scope reads it
// without a call.
inline thread_local Held held = Held::no;
}  // namespace detail

// For a session's request: the switch read once, when made, and its answer held on this thread
// until it is destroyed (the process's own environment cannot change meanwhile). Every check
// meanwhile answers that, recorded as any check is when on; while it holds "off", a scope reads
// neither the environment nor the clock. The one-shot holds nothing: it reads the switch at
// every check.
class HeldSwitch {
public:
    HeldSwitch();
    ~HeldSwitch();

    HeldSwitch(const HeldSwitch&) = delete;
    HeldSwitch& operator=(const HeldSwitch&) = delete;

private:
    detail::Held before_;
};

// Records the time from its opening to its end under `name` while the switch was on at
// opening; inert otherwise, and then it reads the clock only to check the switch (never while
// a HeldSwitch holds it off). `name` must be a string literal: the registry keeps a reference.
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
