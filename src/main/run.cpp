#include "main/run.hpp"

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "diagnostics/summary.hpp"
#include "diagnostics/timing_scope.hpp"
#include "json/value.hpp"
#include "main/output.hpp"
#include "platform/platform.hpp"
#include "sample/inspect_rows.hpp"
#include "sample/positive_pids.hpp"
#include "sample/sample_rows.hpp"
#include "windows/inspect.hpp"

namespace app {
namespace {

constexpr std::string_view usage = "usage: zul-process <inspect|sample> <pid> [pid...]";

enum class Command { sample, inspect };

// About the written length of one row, a little above the usual, so that the output buffer is
// reserved once. Inspect rows grow with the command line; a longer one costs one more growth.
constexpr std::size_t sample_row_text = 256;
constexpr std::size_t inspect_row_text = 192;
constexpr std::size_t document_text = 64;  // the envelope and the line feed

json::Value run_command(Command command, const std::vector<std::uint32_t>& pids) {
    json::Value document = json::Value::object();
    if (command == Command::sample) {
        std::vector<json::Value> rows;
        {
            diagnostics::TimingScope scope{"sample::collect"};
            rows = sample::collect(pids);
        }
        document.set("samples", json::Value::array(std::move(rows)));
    } else {
        document.set("processes",
                     json::Value::array(windows::inspect(pids, sample::inspect_rows)));
    }
    return document;
}

}  // namespace

int run() {
    const platform::Instant run_start = platform::monotonic_now();

    const std::vector<std::string> arguments = platform::arguments();

    Command command;
    if (!arguments.empty() && arguments[0] == "sample") {
        command = Command::sample;
    } else if (!arguments.empty() && arguments[0] == "inspect") {
        command = Command::inspect;
    } else {
        return refuse(usage);
    }

    // Every ID is validated before any process is looked at.
    auto parsed = sample::positive_pids(std::span<const std::string>(arguments).subspan(1));
    if (const auto* message = std::get_if<sample::PidMessage>(&parsed)) {
        return refuse(message->text);
    }
    const auto& pids = std::get<std::vector<std::uint32_t>>(parsed);
    json::Value document = run_command(command, pids);

    if (diagnostics::enabled()) {
        // "main" covers parsing and the command, not the summary or the printing.
        diagnostics::record_elapsed("main", run_start);
        document.set("diagnostics", diagnostics::summary(run_start));
    }
    const std::size_t row_text = command == Command::sample ? sample_row_text : inspect_row_text;
    return print_document(document, document_text + pids.size() * row_text);
}

}  // namespace app
