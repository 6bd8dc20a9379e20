// A request's answer in the order it is made: the command's rows, the diagnostics, the document.
#include "main/request.hpp"

#include <optional>
#include <string_view>
#include <utility>

#include "diagnostics/summary.hpp"
#include "diagnostics/timing_scope.hpp"
#include "json/value.hpp"
#include "json/written_array.hpp"
#include "main/output.hpp"
#include "sample/inspect_rows.hpp"
#include "sample/sample_rows.hpp"
#include "windows/inspect.hpp"

namespace app {
namespace {

json::WrittenArray run_command(const Request& request, sample::EarlierReadings* earlier) {
    if (request.command == Command::sample) {
        diagnostics::TimingScope scope{"sample::collect"};
        if (earlier != nullptr) return sample::collect(request.pids, *earlier);
        return sample::collect(request.pids);
    }
    return windows::inspect(request.pids, sample::inspect_rows);
}

}  // namespace

int answer(const Request& request, platform::Instant start, sample::EarlierReadings* earlier) {
    json::WrittenArray rows = run_command(request, earlier);

    std::optional<json::Value> summary;
    if (diagnostics::enabled()) {
        // "main" covers parsing and the command, not the summary or the printing.
        diagnostics::record_elapsed("main", start);
        summary = diagnostics::summary(start);
    }
    const std::string_view rows_key =
        request.command == Command::sample ? "samples" : "processes";
    return print_document(rows_key, std::move(rows), summary ? &*summary : nullptr);
}

}  // namespace app
