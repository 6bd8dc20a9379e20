// The sample rows in the order they are made: the list, each reading, each row.
#include "rows/sample_rows.hpp"

#include "diagnostics/timing_scope.hpp"
#include "rows/row_text.hpp"

namespace rows {

void sample(platform::Processes& processes, const std::vector<std::uint32_t>& pids,
            RowSink& sink) {
    sink.expect(pids.size() * (widest_sample_row() + 1));
    for (const std::uint32_t pid : pids) {
        sink.take(SampleRow{pid, read_sample(processes, pid), std::nullopt});
    }
}

void sample(platform::Processes& processes, const std::vector<std::uint32_t>& pids,
            EarlierReadings& earlier, RowSink& sink) {
    sink.expect(pids.size() * (widest_sample_row() + 1));
    for (const std::uint32_t pid : pids) {
        SampleRow row{pid, read_sample(processes, pid, probe::CreationTime::read), std::nullopt};
        row.cpu_percent = earlier.cpu_percent(pid, row.reading);
        sink.take(row);
    }
}

probe::ProbeOutcome<probe::ProcessSample> read_sample(platform::Processes& processes,
                                                      std::uint32_t pid,
                                                      probe::CreationTime creation) {
    diagnostics::TimingScope scope{"sample::read_sample"};
    return probe::sample(processes, pid, creation);
}

}  // namespace rows
