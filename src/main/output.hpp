#pragma once
// What the run writes: the document on standard output, or one message on standard error; in
// a session, the answer to each request on standard output.

#include <string>
#include <string_view>

#include "json/value.hpp"
#include "json/written_array.hpp"

namespace app {

inline constexpr int exit_success = 0;
inline constexpr int exit_bad_command_line = 1;
inline constexpr int exit_output_failed = 101;
// A session whose input cannot be read ends as one whose output cannot be written: it can go
// on no further, through no fault of the request.
inline constexpr int exit_input_failed = 101;

// From here on, an allocation that fails ends the program at once: "out of memory" on standard
// error, nothing on standard output, exit_output_failed. The entry points call it first.
void end_cleanly_when_memory_runs_out();

// The message and a line feed on standard error, then exit_bad_command_line; exit_output_failed
// when standard error cannot be written.
int refuse(std::string_view message);

// The document {"diagnostics":..., "<rows_key>":[rows...]} ("diagnostics" only when given) in
// the compact form and a line feed, in one write to standard output, then exit_success. When
// standard output cannot be written: a message on standard error and exit_output_failed.
// `room`, when given, takes the block the document was written in, once written.
int print_document(std::string_view rows_key, json::WrittenArray rows,
                   const json::Value* diagnostics, std::string* room = nullptr);

// A session's answer to a request the one-shot would refuse: {"error":"<message>"} and a line
// feed, in one write to standard output, then exit_success; when standard output cannot be
// written, as print_document.
int print_refusal(std::string_view message);

// "failed reading from stdin: <error>" and a line feed on standard error, then
// exit_input_failed.
int fail_reading_input(std::string_view error);

}  // namespace app
