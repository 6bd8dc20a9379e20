#include <string>

#include "diagnostics/timing_scope.hpp"
#include "sample/sample_rows.hpp"
#include "windows/probe_error.hpp"

namespace sample {
namespace {

using json::Value;

void set_found(Value& row, const windows::ProcessSample& sample) {
    row.set("status", Value::string("found"));
    row.set("cpuUserMs", Value::from_double(sample.cpu_user_ms));
    row.set("cpuSystemMs", Value::from_double(sample.cpu_system_ms));
    row.set("cpuPercent", Value{});  // a single reading has no rate
    row.set("rssBytes", Value::from_unsigned(sample.rss_bytes));
    row.set("systemPeakBytes", Value::from_unsigned(sample.peak_bytes));
    Value peak = Value::object();
    peak.set("source", Value::string(sample.peak_source));
    peak.set("rssBytes", Value::from_unsigned(sample.peak_bytes));
    peak.set("windowMs", Value::from_unsigned(sample.window_ms));
    row.set("peak", std::move(peak));
    row.set("unavailable", Value{});
}

// The six readings an unreadable process does not have.
void set_missing_readings(Value& row) {
    for (const char* key :
         {"cpuUserMs", "cpuSystemMs", "cpuPercent", "rssBytes", "systemPeakBytes", "peak"}) {
        row.set(key, Value{});
    }
}

}  // namespace

Value row(std::uint32_t pid, const windows::ProbeOutcome<windows::ProcessSample>& outcome) {
    diagnostics::TimingScope scope{"sample::row"};
    Value row = Value::object();
    row.set("pid", Value::from_unsigned(pid));
    if (outcome.found()) {
        set_found(row, outcome.value());
    } else if (outcome.not_found()) {
        row.set("status", Value::string("not_found"));
        set_missing_readings(row);
        row.set("unavailable", Value::string(std::string(windows::codes::process_not_found)));
    } else {
        const std::string code(outcome.error().code);
        row.set("status", Value::string("error"));
        row.set("code", Value::string(code));
        set_missing_readings(row);
        row.set("unavailable", Value::string(code));
    }
    return row;
}

}  // namespace sample
