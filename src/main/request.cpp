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
#include "probe/inspect.hpp"
#include "rows/inspect_rows.hpp"
#include "rows/row_text.hpp"
#include "rows/sample_rows.hpp"

namespace app {
namespace {

json::WrittenArray run_command(platform::Processes& processes, const Request& request,
                               SessionCarry* session) {
    rows::WrittenRows written =
        session != nullptr ? rows::WrittenRows{std::move(session->answer_room)} : rows::WrittenRows{};
    if (request.command == Command::sample) {
        diagnostics::TimingScope scope{"sample::collect"};
        if (session != nullptr) {
            rows::sample(processes, request.pids, session->earlier, written);
        } else {
            rows::sample(processes, request.pids, written);
        }
    } else {
        rows::InspectRowMaker maker{written};
        probe::inspect(processes, request.pids, maker);
    }
    return std::move(written).take_rows();
}

}  // namespace

int answer(platform::Processes& processes, const Request& request, platform::Instant start,
           SessionCarry* session) {
    json::WrittenArray rows = run_command(processes, request, session);

    std::optional<json::Value> summary;
    if (diagnostics::enabled()) {
        // "main" covers parsing and the command, not the summary or the printing.
        diagnostics::record_elapsed("main", start);
        summary = diagnostics::summary(start);
    }
    const std::string_view rows_key =
        request.command == Command::sample ? "samples" : "processes";
    return print_document(rows_key, std::move(rows), summary ? &*summary : nullptr,
                          session != nullptr ? &session->answer_room : nullptr);
}

}  // namespace app
