#include "diagnostics/resources.hpp"

#include <cstdint>
#include <string>

#include "diagnostics/elapsed.hpp"
#include "diagnostics/timing_scope.hpp"
#include "codes/codes.hpp"

namespace diagnostics {

namespace {

constexpr double ticks_per_millisecond = 10000.0;  // 100-ns ticks

double ticks_to_millis(platform::FileTime time) {
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.high) << 32) | time.low;
    return static_cast<double>(ticks) / ticks_per_millisecond;
}

}  // namespace

json::Value resources(platform::Instant run_start) {
    TimingScope scope{"diagnostics::resources"};

    platform::MemoryCounters memory{};
    const bool memory_read = platform::own_memory(memory);
    platform::FileTime kernel{}, user{};
    const bool times_read = platform::own_cpu_times(kernel, user);

    // Filled in this order so the "windowMs" of "peak" is read after, never before, the top one.
    json::Value object = json::Value::object();
    object.set("schema", json::Value::from_unsigned(1));
    object.set("source", json::Value::string("native"));
    object.set("windowMs", json::Value::from_unsigned(millis_since(run_start)));
    object.set("cpuUserMs",
               times_read ? json::Value::from_double(ticks_to_millis(user)) : json::Value());
    object.set("cpuSystemMs",
               times_read ? json::Value::from_double(ticks_to_millis(kernel)) : json::Value());
    object.set("cpuPercent", json::Value());
    object.set("rssBytes",
               memory_read ? json::Value::from_unsigned(memory.working_set) : json::Value());
    object.set("heapUsedBytes", json::Value());
    json::Value peak;
    if (memory_read) {
        peak = json::Value::object();
        peak.set("source", json::Value::string("system"));
        peak.set("rssBytes", json::Value::from_unsigned(memory.peak_working_set));
        peak.set("windowMs", json::Value::from_unsigned(millis_since(run_start)));
    }
    object.set("peak", std::move(peak));
    object.set("unavailable",
               memory_read && times_read
                   ? json::Value()
                   : json::Value::string(std::string{codes::resource_query_failed}));
    return object;
}

}  // namespace diagnostics
