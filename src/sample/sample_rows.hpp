#pragma once
// The sample command: one reading and one row per process ID.

#include <cstdint>
#include <vector>

#include "json/value.hpp"
#include "json/written_array.hpp"
#include "windows/sample_probe.hpp"

namespace sample {

// One row per ID in list order, each process read and its row built before the next is read.
// Each row is written as soon as it is built and only its text kept. Opens no scope: the
// caller runs it inside "sample::collect".
json::WrittenArray collect(const std::vector<std::uint32_t>& pids);

// The reading of one process, as the probe returns it. Scope "sample::read_sample".
windows::ProbeOutcome<windows::ProcessSample> read_sample(std::uint32_t pid);

// The row of one process: found, not_found or error, always the same nine keys plus "code" on
// errors. Cannot fail. Scope "sample::row".
json::Value row(std::uint32_t pid, const windows::ProbeOutcome<windows::ProcessSample>& outcome);

}  // namespace sample
