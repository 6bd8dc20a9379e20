#pragma once
// The CPU percentage of a session's sample rows: each process's earlier reading, the figure
// between it and the next one, and the readings of processes no longer asked about forgotten.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "pid_table/pid_table.hpp"
#include "platform/platform.hpp"
#include "probe/sample_probe.hpp"

namespace rows {

// What a session keeps of the last found reading of each process it was asked about. Holds one
// entry per process found in the last minute: its memory stays bounded by the processes found
// within a minute, whatever number of IDs the session meets over its life.
class EarlierReadings {
public:
    // A process not read for this long is forgotten: its next reading is a first one.
    static constexpr std::uint64_t forget_after_seconds = 60;

    // 100 × (growth of user + kernel milliseconds) ÷ (milliseconds between the two readings),
    // since the earlier reading of the same process: same ID and same creation time, found less
    // than a minute ago. nullopt for a first reading, after the ID was reused, and when no time
    // passed. A found reading becomes the next one's earlier reading; a process not found is
    // forgotten; an error leaves the earlier reading as it was. Scope "sample::cpu_percent".
    std::optional<double> cpu_percent(
        std::uint32_t pid, const probe::ProbeOutcome<probe::ProcessSample>& outcome);

    // The processes remembered now.
    std::size_t size() const { return table_.size(); }

private:
    struct Earlier {
        std::uint64_t creation_ticks = 0;
        double cpu_ms = 0.0;  // user + kernel
        platform::Instant read_at;
    };

    static std::optional<double> between(const Earlier& earlier, const Earlier& now);
    static bool stale(const Earlier& earlier, platform::Instant now);
    void forget_stale(platform::Instant now);

    pid_table::PidTable<Earlier> table_;
    platform::Instant next_sweep_;
};

}  // namespace rows
