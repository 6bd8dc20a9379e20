#pragma once
// The rows of both commands as typed values, and whoever takes them as they are made: the
// document's writer (rows/row_text.hpp), or any other caller of the row-making code.

#include <cstdint>
#include <optional>
#include <string>

#include "probe/process_handle.hpp"
#include "probe/sample_probe.hpp"

namespace rows {

// One sample row: the reading of one process and, in a session, its CPU percentage since the
// earlier reading (nullopt: none to give).
struct SampleRow {
    std::uint32_t pid = 0;
    probe::ProbeOutcome<probe::ProcessSample> reading;
    std::optional<double> cpu_percent;
};

// A process that is still running, is still the one first seen and has a command line.
struct InspectedProcess {
    std::string created_at;
    std::string executable_path;
    std::string command_line;
};

// What one inspect row is built from: found (with the three texts), not_found, or error with
// its code.
using InspectResult = probe::ProbeOutcome<InspectedProcess>;

struct InspectRow {
    std::uint32_t pid = 0;
    InspectResult result;
};

// Takes each row as soon as it is made, in list order; nothing of a row is kept by its maker.
class RowSink {
public:
    // A hint: rows of at most `bytes` of written text in all are coming.
    virtual void expect(std::size_t bytes) = 0;
    virtual void take(const SampleRow& row) = 0;
    virtual void take(InspectRow row) = 0;

protected:
    ~RowSink() = default;
};

}  // namespace rows
