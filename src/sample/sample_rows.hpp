#pragma once
// The sample command: one reading and one row per process ID.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/written_array.hpp"
#include "sample/cpu_percent.hpp"
#include "windows/sample_probe.hpp"

namespace sample {

// One row per ID in list order, each process read and its row written before the next is
// read; only the rows' text is kept. Opens no scope: the
// caller runs it inside "sample::collect". "cpuPercent" is null: one reading has no rate.
json::WrittenArray collect(const std::vector<std::uint32_t>& pids);

// The same for a request of a session, whose rows carry "cpuPercent" since the earlier
// readings, which the readings of this request then replace.
json::WrittenArray collect(const std::vector<std::uint32_t>& pids, EarlierReadings& earlier);

// The reading of one process, as the probe returns it. Scope "sample::read_sample".
windows::ProbeOutcome<windows::ProcessSample> read_sample(
    std::uint32_t pid, windows::CreationTime creation = windows::CreationTime::skipped);

// Appends the compact row of one process to `out`: found, not_found or error, always the same
// nine keys plus "code" on errors, in byte order. "cpuPercent" of a found row is `cpu_percent`,
// or null. Cannot fail. Scope "sample::row".
void write_row(std::string& out, std::uint32_t pid,
               const windows::ProbeOutcome<windows::ProcessSample>& outcome,
               std::optional<double> cpu_percent = std::nullopt);

}  // namespace sample
