#pragma once
// The CPU figures of a `sample` answer of one process, as the end-to-end tests of a session
// compare them with the times they read themselves, on either platform.

#include <optional>
#include <string_view>

namespace testing_support {

struct SampleCpu {
    double cpu_ms = 0.0;             // the row's "cpuUserMs" + "cpuSystemMs"
    std::optional<double> percent;   // its "cpuPercent", or nullopt when null
};

// The figures of `answer` (one line of standard output) when it holds exactly one row and that
// row is found; nullopt otherwise.
std::optional<SampleCpu> one_found_sample(std::string_view answer);

}  // namespace testing_support
