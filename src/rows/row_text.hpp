#pragma once
// The one writer of rows: each typed row in its compact JSON form, and the rows of a command
// collected as the text the document sets under "samples" or "processes".

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "json/value.hpp"
#include "json/written_array.hpp"
#include "rows/rows.hpp"

namespace rows {

// Appends the compact row of one process to `out`: found, not_found or error, always the same
// nine keys plus "code" on errors, in byte order. "cpuPercent" of a found row is the row's
// percentage, or null. Cannot fail. Scope "sample::row".
void write_row(std::string& out, const SampleRow& row);

// The most a sample row of `reading` can take once written, and the most any found row can.
std::size_t sample_row_size_limit(const probe::ProbeOutcome<probe::ProcessSample>& reading);
std::size_t widest_sample_row();

// {"pid","status"} plus "code" for an error, or "createdAt", "executablePath" and
// "commandLine" for a found process. Scope "row".
json::Value row(std::uint32_t pid, InspectResult result);

// The rows of one command, each written as it comes and only its text kept.
class WrittenRows final : public RowSink {
public:
    WrittenRows() = default;
    // Written into the block of `room` (see json::WrittenArray).
    explicit WrittenRows(std::string room) : rows_(std::move(room)) {}

    void expect(std::size_t bytes) override;
    void take(const SampleRow& row) override;
    void take(InspectRow row) override;

    json::WrittenArray take_rows() && { return std::move(rows_); }

private:
    json::WrittenArray rows_;
};

}  // namespace rows
