// The run: the arguments, then either the one request they make or a session.
#include "main/run.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "main/output.hpp"
#include "main/request.hpp"
#include "main/session.hpp"
#include "platform/platform.hpp"

namespace app {
namespace {

// The request of the command line, or its refusal. The arguments are let go of here, before
// any process is looked at, rather than kept beside the rows: a hundred thousand of them take
// megabytes. A session is asked for by "serve", alone or with its option.
std::variant<Request, Refusal, Serve> read_command_line() {
    const std::vector<std::string> arguments = platform::arguments();
    if (const std::optional<Serve> serve = serve_command(arguments)) return *serve;
    auto next = arguments.begin();
    auto next_word = [&]() -> std::optional<std::string_view> {
        if (next == arguments.end()) return std::nullopt;
        return *next++;
    };
    auto request = read_request(next_word);
    if (auto* refused = std::get_if<Refusal>(&request)) return *refused;
    return std::move(std::get<Request>(request));
}

}  // namespace

int run() {
    const platform::Instant run_start = platform::monotonic_now();

    const auto command_line = read_command_line();
    if (const auto* refused = std::get_if<Refusal>(&command_line)) return refuse(*refused);
    if (const auto* session = std::get_if<Serve>(&command_line)) return serve(*session);
    platform::Processes processes;
    return answer(processes, std::get<Request>(command_line), run_start);
}

}  // namespace app
