#pragma once
// `zul-process serve`: a session that answers requests read from standard input.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rows/cpu_percent.hpp"

namespace app {

// What the command line asks of a session.
struct Serve {
    // How long a process's earlier reading is kept for its next CPU percentage.
    std::uint64_t forget_after_seconds = rows::EarlierReadings::default_forget_after_seconds;
};

// The longest `--forget-after` a session takes: a day.
inline constexpr std::uint64_t longest_forget_after_seconds = 86'400;

// The session the arguments ask for: "serve" alone, or "serve --forget-after=<seconds>" with a
// whole number of seconds from 1 to a day (decimal digits only). nullopt for any other words,
// which the command line then refuses as it refuses every word it does not know.
std::optional<Serve> serve_command(const std::vector<std::string>& arguments);

// Answers each line of standard input with one line on standard output, in order, each
// written as soon as it is made: the document the one-shot prints for the same words (with
// "cpuPercent" since the session's earlier reading), or {"error":"<message>"} for words the
// one-shot refuses. While it waits for a line, what it keeps of processes not read for a
// while is let go of (platform::forget_idle_processes). exit_success at the end of the input;
// exit_output_failed when standard output cannot be written, exit_input_failed when standard
// input cannot be read, each after a message on standard error.
int serve(const Serve& options = {});

}  // namespace app
