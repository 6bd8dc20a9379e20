// The sample rows in the order they are made: the list, each reading, each row.
#include "sample/sample_rows.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "diagnostics/timing_scope.hpp"
#include "json/number_text.hpp"
#include "json/string_text.hpp"

namespace sample {

namespace {

// The most a row of `outcome` can take, as the rows' room is counted.
std::size_t row_size_limit(const windows::ProbeOutcome<windows::ProcessSample>& outcome);

// What a found row with a percentage can take, every count its largest: room for a list of
// rows that are not read yet.
std::size_t widest_found_row();

}  // namespace

json::WrittenArray collect(const std::vector<std::uint32_t>& pids) {
    json::WrittenArray rows;
    rows.reserve(pids.size() * (widest_found_row() + 1));
    for (const std::uint32_t pid : pids) {
        const auto outcome = read_sample(pid);
        rows.push_written(row_size_limit(outcome),
                          [&](std::string& out) { write_row(out, pid, outcome); });
    }
    return rows;
}

json::WrittenArray collect(const std::vector<std::uint32_t>& pids, EarlierReadings& earlier) {
    json::WrittenArray rows;
    rows.reserve(pids.size() * (widest_found_row() + 1));
    for (const std::uint32_t pid : pids) {
        const auto outcome = read_sample(pid, windows::CreationTime::read);
        const std::optional<double> cpu_percent = earlier.cpu_percent(pid, outcome);
        rows.push_written(row_size_limit(outcome), [&](std::string& out) {
            write_row(out, pid, outcome, cpu_percent);
        });
    }
    return rows;
}

windows::ProbeOutcome<windows::ProcessSample> read_sample(std::uint32_t pid,
                                                          windows::CreationTime creation) {
    diagnostics::TimingScope scope{"sample::read_sample"};
    return windows::sample(pid, creation);
}

namespace {

using namespace std::string_view_literals;

// A row has these nine keys, and "code" besides on errors, written in byte order straight
// into the rows' text: a row is made a million times a minute by a session, and a value tree
// of it cost more than reading the process.

// A double as a value writes it: null unless finite.
void append_double_or_null(std::string& out, double number) {
    if (std::isfinite(number)) {
        json::append_double(out, number);
    } else {
        out.append("null"sv);
    }
}

void write_found_row(std::string& out, std::uint32_t pid, const windows::ProcessSample& sample,
                     std::optional<double> cpu_percent) {
    // Null for a first reading: one reading has no rate.
    out.append(R"({"cpuPercent":)"sv);
    if (cpu_percent) {
        append_double_or_null(out, *cpu_percent);
    } else {
        out.append("null"sv);
    }
    out.append(R"(,"cpuSystemMs":)"sv);
    append_double_or_null(out, sample.cpu_system_ms);
    out.append(R"(,"cpuUserMs":)"sv);
    append_double_or_null(out, sample.cpu_user_ms);
    out.append(R"(,"peak":{"rssBytes":)"sv);
    json::append_unsigned(out, sample.peak_bytes);
    out.append(R"(,"source":)"sv);
    json::append_quoted(out, sample.peak_source);
    out.append(R"(,"windowMs":)"sv);
    json::append_unsigned(out, sample.window_ms);
    out.append(R"(},"pid":)"sv);
    json::append_unsigned(out, pid);
    out.append(R"(,"rssBytes":)"sv);
    json::append_unsigned(out, sample.rss_bytes);
    out.append(R"(,"status":"found","systemPeakBytes":)"sv);
    json::append_unsigned(out, sample.peak_bytes);
    out.append(R"(,"unavailable":null})"sv);
}

// The row of a process without readings: the six readings null, and the reason why. An empty
// `code` leaves the key out (not_found).
void write_unread_row(std::string& out, std::uint32_t pid, std::string_view status,
                      std::string_view code, std::string_view unavailable) {
    out.push_back('{');
    if (!code.empty()) {
        out.append(R"("code":)"sv);
        json::append_quoted(out, code);
        out.push_back(',');
    }
    out.append(R"("cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":)"sv);
    json::append_unsigned(out, pid);
    out.append(R"(,"rssBytes":null,"status":)"sv);
    json::append_quoted(out, status);
    out.append(R"(,"systemPeakBytes":null,"unavailable":)"sv);
    json::append_quoted(out, unavailable);
    out.push_back('}');
}

// The rows' punctuation and keys: all of a row but its values.
constexpr std::size_t found_row_frame =
    R"({"cpuPercent":,"cpuSystemMs":,"cpuUserMs":,"peak":{"rssBytes":,"source":,"windowMs":},)"
    R"("pid":,"rssBytes":,"status":"found","systemPeakBytes":,"unavailable":null})"sv.size();
constexpr std::size_t unread_row_frame =
    R"({"code":,"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":,)"
    R"("rssBytes":null,"status":,"systemPeakBytes":null,"unavailable":})"sv.size();
constexpr std::size_t widest_pid = 10;  // 4294967295

std::size_t found_row_limit(std::string_view peak_source) {
    return found_row_frame + 3 * json::longest_double_text + 4 * json::max_unsigned_digits +
           widest_pid + json::quoted_length(peak_source);
}

std::size_t widest_found_row() {
    return found_row_limit("system");
}

std::size_t row_size_limit(const windows::ProbeOutcome<windows::ProcessSample>& outcome) {
    if (outcome.found()) return found_row_limit(outcome.value().peak_source);
    const std::string_view code =
        outcome.not_found() ? windows::codes::process_not_found : outcome.error().code;
    return unread_row_frame + widest_pid + json::quoted_length("not_found") +
           2 * json::quoted_length(code);
}

}  // namespace

void write_row(std::string& out, std::uint32_t pid,
               const windows::ProbeOutcome<windows::ProcessSample>& outcome,
               std::optional<double> cpu_percent) {
    diagnostics::TimingScope scope{"sample::row"};
    if (outcome.found()) return write_found_row(out, pid, outcome.value(), cpu_percent);
    if (outcome.not_found()) {
        return write_unread_row(out, pid, "not_found", {}, windows::codes::process_not_found);
    }
    const std::string_view code = outcome.error().code;
    write_unread_row(out, pid, "error", code, code);
}

}  // namespace sample
