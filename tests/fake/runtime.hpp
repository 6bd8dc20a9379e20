#pragma once
// The scriptable start-up services of the fake platform: the monotonic clock, the environment,
// the argument list, the two output streams and standard input. Tests call reset_runtime() in
// their fixture.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace fake {

// Back to the defaults: clock at zero without a step, empty environment, empty argument list,
// nothing captured, both streams writable, standard input empty.
void reset_runtime();

// Clock. Each reading answers the current time and then moves the clock on by the step, so a
// test knows the exact value of every reading.
void set_clock(platform::Instant now);
void advance_clock(std::uint64_t nanos);
void set_clock_step(std::uint64_t nanos);
platform::Instant clock_now();  // the next reading, without taking it
std::uint64_t clock_readings();

// Environment. Unset and "not valid Unicode" look the same to the tool: both are unset here.
void set_environment_variable(const std::string& name, std::string value);
void unset_environment_variable(const std::string& name);
std::uint64_t environment_reads();

// Arguments after the program name, as the backend hands them over (already UTF-8).
void set_arguments(std::vector<std::string> arguments);

// Streams. Everything written is captured; a failing stream captures nothing and answers
// `error_text` from every write.
const std::string& captured(platform::Stream stream);
// How many writes reached the stream, the failed ones included.
std::uint64_t writes(platform::Stream stream);
void fail_stream(platform::Stream stream, std::string error_text);
// Also copies what is written on `stream` to the test's own standard error, where a death test,
// which sees only what its child printed, can read it.
void echo_stream(platform::Stream stream);

// Standard input, as a list of pieces. Each read hands out what is left of the current piece,
// as much as the reader has room for, and never more than one piece: a piece is what one write
// of a pipe's writer would deliver. Before a piece is first handed out, its `before` runs (a
// test moves the clock on there, or changes a process). After the last piece, reads answer the
// end of the input, or fail with the text of fail_input.
void add_input(std::string piece, std::function<void()> before = {});
void fail_input(std::string error_text);
std::uint64_t input_reads();
// Before the piece added next, `count` waits for input (wait_for_input) pass with nothing, each
// moving the clock on by the time it waited. Any other wait answers at once that input is there.
void add_quiet_waits(unsigned count);
std::uint64_t input_waits();

}  // namespace fake
