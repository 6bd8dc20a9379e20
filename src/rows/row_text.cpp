// The rows' written form, one writer for both commands: the sample row written straight into
// the rows' text, the inspect row made as a value and written, and the rows collected for the
// document.
#include "rows/row_text.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "diagnostics/timing_scope.hpp"
#include "json/number_text.hpp"
#include "json/string_text.hpp"
#include "json/value.hpp"

namespace rows {

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

void write_found_row(std::string& out, std::uint32_t pid, const probe::ProcessSample& sample,
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

}  // namespace

std::size_t widest_sample_row() { return found_row_limit("system"); }

std::size_t sample_row_size_limit(const probe::ProbeOutcome<probe::ProcessSample>& outcome) {
    if (outcome.found()) return found_row_limit(outcome.value().peak_source);
    const std::string_view code =
        outcome.not_found() ? codes::process_not_found : outcome.error().code;
    return unread_row_frame + widest_pid + json::quoted_length("not_found") +
           2 * json::quoted_length(code);
}


void write_row(std::string& out, const SampleRow& row) {
    diagnostics::TimingScope scope{"sample::row"};
    const auto& outcome = row.reading;
    if (outcome.found()) return write_found_row(out, row.pid, outcome.value(), row.cpu_percent);
    if (outcome.not_found()) {
        return write_unread_row(out, row.pid, "not_found", {}, codes::process_not_found);
    }
    const std::string_view code = outcome.error().code;
    write_unread_row(out, row.pid, "error", code, code);
}

// Keys are set in byte order, so each set appends to the block reserved for the row's keys.
json::Value row(std::uint32_t pid, InspectResult result) {
    diagnostics::TimingScope scope{"row"};
    using json::Value;
    if (result.found()) {
        InspectedProcess& process = result.value();
        Value row = Value::object(5);
        row.set("commandLine", Value::string(std::move(process.command_line)));
        row.set("createdAt", Value::string(std::move(process.created_at)));
        row.set("executablePath", Value::string(std::move(process.executable_path)));
        row.set("pid", Value::from_unsigned(pid));
        row.set("status", Value::string("found"));
        return row;
    }
    if (result.not_found()) {
        Value row = Value::object(2);
        row.set("pid", Value::from_unsigned(pid));
        row.set("status", Value::string("not_found"));
        return row;
    }
    Value row = Value::object(3);
    row.set("code", Value::string(std::string(result.error().code)));
    row.set("pid", Value::from_unsigned(pid));
    row.set("status", Value::string("error"));
    return row;
}

void WrittenRows::expect(std::size_t bytes) { rows_.reserve(bytes); }

void WrittenRows::take(const SampleRow& sample) {
    rows_.push_written(sample_row_size_limit(sample.reading),
                       [&](std::string& out) { write_row(out, sample); });
}

void WrittenRows::take(InspectRow inspected) {
    rows_.push_back(row(inspected.pid, std::move(inspected.result)));
}

}  // namespace rows
