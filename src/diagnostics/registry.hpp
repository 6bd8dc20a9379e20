#pragma once
// The per-thread registry of recorded durations: one row per name, in the order in which the
// names were first recorded. Rows are appended or updated in place, and removed only all at
// once, between the requests of a session.

#include <cstdint>
#include <span>
#include <string_view>

#include "diagnostics/elapsed.hpp"
#include "platform/platform.hpp"

namespace diagnostics {

// The names under which the diagnostics measure their own bookkeeping.
inline constexpr std::string_view self_enabled = "diagnostics::enabled";
inline constexpr std::string_view self_new = "diagnostics::new";
inline constexpr std::string_view self_record = "diagnostics::record";
inline constexpr std::string_view self_drop = "diagnostics::drop";

struct FunctionStats {
    std::string_view name;  // refers to a string literal; never copied
    Micros total_us = 0;
    Micros max_us = 0;
    std::uint64_t calls = 0;
};

// Adds one call of `micros` under `name`.
void record(std::string_view name, Micros micros);

// Adds one call under a self-measurement name, timed from `start` to the moment of recording
// (the scan included). The maximum is read after the total, so it may exceed it.
void record_since(std::string_view self_name, platform::Instant start);

// Empties the calling thread's registry. A session starts every request from an empty one, so
// that each answer shows that request's own calls; its block is kept for the next.
void clear_registry();

// Read access to the calling thread's registry. While a reader lives the registry is held:
// recording on this thread meanwhile is a fault that ends the process.
class RegistryReader {
public:
    RegistryReader();
    ~RegistryReader();

    RegistryReader(const RegistryReader&) = delete;
    RegistryReader& operator=(const RegistryReader&) = delete;

    std::span<const FunctionStats> rows() const;
    // The row named `name`, or null.
    const FunctionStats* find(std::string_view name) const;
};

}  // namespace diagnostics
