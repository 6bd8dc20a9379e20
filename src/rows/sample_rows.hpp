#pragma once
// The sample command: one reading and one row per process ID.

#include <cstdint>
#include <vector>

#include "platform/platform.hpp"
#include "probe/sample_probe.hpp"
#include "rows/cpu_percent.hpp"
#include "rows/rows.hpp"

namespace rows {

// One row per ID in list order, each process read and its row handed to `sink` before the next
// is read. Opens no scope: the caller runs it inside "sample::collect". "cpuPercent" is null:
// one reading has no rate.
void sample(platform::Processes& processes, const std::vector<std::uint32_t>& pids,
            RowSink& sink);

// The same for a request of a session, whose rows carry "cpuPercent" since the earlier
// readings, which the readings of this request then replace.
void sample(platform::Processes& processes, const std::vector<std::uint32_t>& pids,
            EarlierReadings& earlier, RowSink& sink);

// The reading of one process, as the probe returns it. Scope "sample::read_sample".
probe::ProbeOutcome<probe::ProcessSample> read_sample(
    platform::Processes& processes, std::uint32_t pid,
    probe::CreationTime creation = probe::CreationTime::skipped);

}  // namespace rows
