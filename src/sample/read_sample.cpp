#include "diagnostics/timing_scope.hpp"
#include "sample/sample_rows.hpp"
#include "windows/sample_probe.hpp"

namespace sample {

windows::ProbeOutcome<windows::ProcessSample> read_sample(std::uint32_t pid) {
    diagnostics::TimingScope scope{"sample::read_sample"};
    return windows::sample(pid);
}

}  // namespace sample
