#pragma once
// One request, from its words to its answer: the command word, the process-ID list, the
// command, the diagnostics and the document. The one-shot makes one from its arguments, a
// session one from each line.

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform.hpp"
#include "rows/cpu_percent.hpp"
#include "main/positive_pids.hpp"

namespace app {

inline constexpr std::string_view usage = "usage: zul-process <inspect|sample> <pid> [pid...]";

enum class Command { sample, inspect };

struct Request {
    Command command;
    std::vector<std::uint32_t> pids;
};

// Why a request is refused: the usage line or one of the ID list's messages.
using Refusal = std::string_view;

// The command and its process IDs, or the message that refuses them. `next_word()` gives the
// words one at a time, the command word first, then nullopt. Every ID is validated before any
// process is looked at.
template <typename NextWord>
    requires std::invocable<NextWord&>
std::variant<Request, Refusal> read_request(NextWord& next_word) {
    const std::optional<std::string_view> command_word = next_word();
    Command command;
    if (command_word == "sample") {
        command = Command::sample;
    } else if (command_word == "inspect") {
        command = Command::inspect;
    } else {
        return usage;
    }
    auto parsed = app::positive_pids([&] { return next_word(); });
    if (const auto* message = std::get_if<app::PidMessage>(&parsed)) return message->text;
    return Request{command, std::move(std::get<std::vector<std::uint32_t>>(parsed))};
}

// What a session carries from one request to the next: its earlier readings, for the rows' CPU
// percentage, and the block its last answer was written in, for the next answer.
struct SessionCarry {
    rows::EarlierReadings earlier;
    std::string answer_room;
};

// Runs the request over `processes` and writes its document to standard output: the rows, and
// the diagnostics when the switch is on, whose "main" counts from `start`. A session hands over
// what it carries; the one-shot nothing. exit_success, or exit_output_failed when standard
// output cannot be written.
int answer(platform::Processes& processes, const Request& request, platform::Instant start,
           SessionCarry* session = nullptr);

}  // namespace app
