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

// What a session keeps of the last found reading of each process it was asked about: one entry
// per process found within the time its caller chose, and never more than a fixed count of
// processes, whatever number of IDs the session meets over its life.
class EarlierReadings {
public:
    // Unless the caller chooses: long enough for a monitor that reads every five minutes.
    static constexpr std::uint64_t default_forget_after_seconds = 600;
    // The most processes remembered at once (at most half the table's slots in use: about
    // 5 MiB). When that many are remembered, a process read for the first time is not, until
    // the sweep has forgotten some: its next reading is a first one again.
    static constexpr std::size_t most_remembered = 65'536;

    // A process not read for `forget_after_seconds` is forgotten: its next reading is a first
    // one.
    explicit EarlierReadings(std::uint64_t forget_after_seconds = default_forget_after_seconds,
                             std::size_t most = most_remembered);

    // 100 × (growth of user + kernel milliseconds) ÷ (milliseconds between the two readings),
    // since the earlier reading of the same process: same ID and same creation time, found less
    // than `forget_after_seconds` ago, and not reaped since as far as the reading could tell.
    // nullopt for a first reading, after the ID was reused, and when no time passed. A found
    // reading becomes the next one's earlier reading; a process not found is forgotten; an
    // error leaves the earlier reading as it was. Scope "sample::cpu_percent".
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

    std::optional<double> between(const Earlier& earlier, const Earlier& now) const;
    bool stale(const Earlier& earlier, platform::Instant now) const;
    void forget_stale(platform::Instant now);

    pid_table::PidTable<Earlier> table_;
    std::uint64_t forget_after_seconds_;
    std::size_t most_;
    pid_table::SweepGate sweeps_;
};

}  // namespace rows
