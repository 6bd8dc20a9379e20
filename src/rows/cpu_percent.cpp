// The CPU percentage between two readings of one process: the reading looked up, compared and
// kept in its place, then the figure itself, then the sweep that forgets the stale readings.
#include "rows/cpu_percent.hpp"

#include "diagnostics/elapsed.hpp"
#include "diagnostics/timing_scope.hpp"

namespace rows {

EarlierReadings::EarlierReadings(std::uint64_t forget_after_seconds, std::size_t most)
    : forget_after_seconds_(forget_after_seconds), most_(most) {}

std::optional<double> EarlierReadings::cpu_percent(
    std::uint32_t pid, const probe::ProbeOutcome<probe::ProcessSample>& outcome) {
    diagnostics::TimingScope scope{"sample::cpu_percent"};
    if (outcome.not_found()) {
        // Ended: a process that comes with this ID later is another one.
        table_.erase(pid);
        return std::nullopt;
    }
    if (!outcome.found() || !outcome.value().creation_ticks) return std::nullopt;

    const probe::ProcessSample& reading = outcome.value();
    forget_stale(reading.read_at);
    const Earlier now{*reading.creation_ticks, reading.cpu_user_ms + reading.cpu_system_ms,
                      reading.read_at};
    if (table_.size() >= most_ && table_.find(pid) == nullptr) return std::nullopt;
    auto [earlier, added] = table_.insert(pid);
    std::optional<double> percent;
    // A process reaped since is another one, even one that started in the same clock tick.
    if (!added && !reading.earlier_process_gone) percent = between(earlier, now);
    earlier = now;
    return percent;
}

std::optional<double> EarlierReadings::between(const Earlier& earlier, const Earlier& now) const {
    if (earlier.creation_ticks != now.creation_ticks) return std::nullopt;  // the ID was reused
    // Stale but not swept yet: forgotten all the same.
    if (stale(earlier, now.read_at)) return std::nullopt;
    const diagnostics::Elapsed elapsed = diagnostics::elapsed_between(earlier.read_at, now.read_at);
    const double elapsed_ms =
        static_cast<double>(elapsed.seconds) * 1000.0 + static_cast<double>(elapsed.nanos) / 1e6;
    const double growth_ms = now.cpu_ms - earlier.cpu_ms;
    // Processor time never shrinks; a rate below zero would say only that a counter misread.
    if (elapsed_ms == 0.0 || growth_ms < 0.0) return std::nullopt;
    return 100.0 * growth_ms / elapsed_ms;
}

bool EarlierReadings::stale(const Earlier& earlier, platform::Instant now) const {
    return diagnostics::elapsed_between(earlier.read_at, now).seconds >= forget_after_seconds_;
}

// The table keeps its room: it never holds more than most_ processes.
void EarlierReadings::forget_stale(platform::Instant now) {
    if (!sweeps_.open(now)) return;
    table_.erase_if([&](std::uint32_t, const Earlier& earlier) { return stale(earlier, now); });
}

}  // namespace rows
