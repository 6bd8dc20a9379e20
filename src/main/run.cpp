#include "main/run.hpp"

#include <optional>
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

struct Request {
    Command command;
    std::vector<std::uint32_t> pids;
};

// The command and its process IDs, or the exit status of a refused command line. The
// arguments are let go of here, before any process is looked at, rather than kept beside the
// rows: a hundred thousand of them take megabytes.
std::variant<Request, int> read_command_line() {
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
    return Request{command, std::move(std::get<std::vector<std::uint32_t>>(parsed))};
}

json::WrittenArray run_command(Command command, const std::vector<std::uint32_t>& pids) {
    if (command == Command::sample) {
        diagnostics::TimingScope scope{"sample::collect"};
        return sample::collect(pids);
    }
    return windows::inspect(pids, sample::inspect_rows);
}

}  // namespace

int run() {
    const platform::Instant run_start = platform::monotonic_now();

    auto request = read_command_line();
    if (const int* refused = std::get_if<int>(&request)) return *refused;
    const Request& asked = std::get<Request>(request);
    json::WrittenArray rows = run_command(asked.command, asked.pids);

    std::optional<json::Value> summary;
    if (diagnostics::enabled()) {
        // "main" covers parsing and the command, not the summary or the printing.
        diagnostics::record_elapsed("main", run_start);
        summary = diagnostics::summary(run_start);
    }
    const std::string_view rows_key = asked.command == Command::sample ? "samples" : "processes";
    return print_document(rows_key, std::move(rows), summary ? &*summary : nullptr);
}

}  // namespace app
