// The sample rows in the order they are made: the list, each reading, each row.
#include "sample/sample_rows.hpp"

#include <limits>
#include <string>
#include <string_view>

#include "diagnostics/timing_scope.hpp"
#include "json/writer.hpp"

namespace sample {

namespace {
std::size_t widest_row_limit(std::optional<double> cpu_percent);
}  // namespace

json::WrittenArray collect(const std::vector<std::uint32_t>& pids) {
    json::WrittenArray rows;
    rows.reserve(pids.size() * (widest_row_limit(std::nullopt) + 1));
    for (const std::uint32_t pid : pids) {
        rows.push_back(row(pid, read_sample(pid)));
    }
    return rows;
}

json::WrittenArray collect(const std::vector<std::uint32_t>& pids, EarlierReadings& earlier) {
    json::WrittenArray rows;
    rows.reserve(pids.size() * (widest_row_limit(0.0) + 1));
    for (const std::uint32_t pid : pids) {
        const auto outcome = read_sample(pid, windows::CreationTime::read);
        rows.push_back(row(pid, outcome, earlier.cpu_percent(pid, outcome)));
    }
    return rows;
}

windows::ProbeOutcome<windows::ProcessSample> read_sample(std::uint32_t pid,
                                                          windows::CreationTime creation) {
    diagnostics::TimingScope scope{"sample::read_sample"};
    return windows::sample(pid, creation);
}

namespace {

using json::Value;

// A row has these nine keys, and "code" besides on errors. Rows are built with their keys in
// byte order, each set appending to one block reserved up front.
constexpr std::size_t row_keys = 9;
constexpr std::size_t peak_keys = 3;

Value found_row(std::uint32_t pid, const windows::ProcessSample& sample,
                std::optional<double> cpu_percent) {
    Value peak = Value::object(peak_keys);
    peak.set("rssBytes", Value::from_unsigned(sample.peak_bytes));
    peak.set("source", Value::string(sample.peak_source));
    peak.set("windowMs", Value::from_unsigned(sample.window_ms));

    Value row = Value::object(row_keys);
    // Null for a first reading: one reading has no rate.
    row.set("cpuPercent", cpu_percent ? Value::from_double(*cpu_percent) : Value{});
    row.set("cpuSystemMs", Value::from_double(sample.cpu_system_ms));
    row.set("cpuUserMs", Value::from_double(sample.cpu_user_ms));
    row.set("peak", std::move(peak));
    row.set("pid", Value::from_unsigned(pid));
    row.set("rssBytes", Value::from_unsigned(sample.rss_bytes));
    row.set("status", Value::string("found"));
    row.set("systemPeakBytes", Value::from_unsigned(sample.peak_bytes));
    row.set("unavailable", Value{});
    return row;
}

// The row of a process without readings: the six readings null, and the reason why. An empty
// `code` leaves the key out (not_found).
Value unread_row(std::uint32_t pid, const char* status, std::string_view code,
                 std::string_view unavailable) {
    Value row = Value::object(code.empty() ? row_keys : row_keys + 1);
    if (!code.empty()) row.set("code", Value::string(std::string(code)));
    for (const char* key : {"cpuPercent", "cpuSystemMs", "cpuUserMs", "peak"}) {
        row.set(key, Value{});
    }
    row.set("pid", Value::from_unsigned(pid));
    row.set("rssBytes", Value{});
    row.set("status", Value::string(status));
    row.set("systemPeakBytes", Value{});
    row.set("unavailable", Value::string(std::string(unavailable)));
    return row;
}

// The most a row can take, as the rows' room is counted: a found row whose every count is the
// largest there is (an error row has nulls in their place, and only a short code), with a
// percentage when the rows carry one (every double counts as wide as the widest).
std::size_t widest_row_limit(std::optional<double> cpu_percent) {
    constexpr std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    const windows::ProcessSample widest{.peak_bytes = largest,
                                        .peak_source = "system",
                                        .cpu_user_ms = 0.0,
                                        .cpu_system_ms = 0.0,
                                        .rss_bytes = largest,
                                        .window_ms = largest,
                                        .creation_ticks = std::nullopt,
                                        .read_at = {}};
    return json::written_size_limit(
        found_row(std::numeric_limits<std::uint32_t>::max(), widest, cpu_percent));
}

}  // namespace

Value row(std::uint32_t pid, const windows::ProbeOutcome<windows::ProcessSample>& outcome,
          std::optional<double> cpu_percent) {
    diagnostics::TimingScope scope{"sample::row"};
    if (outcome.found()) return found_row(pid, outcome.value(), cpu_percent);
    if (outcome.not_found()) {
        return unread_row(pid, "not_found", {}, windows::codes::process_not_found);
    }
    const std::string_view code = outcome.error().code;
    return unread_row(pid, "error", code, code);
}

}  // namespace sample
