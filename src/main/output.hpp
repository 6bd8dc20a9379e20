#pragma once
// What the run writes: the document on standard output, or one message on standard error.

#include <string_view>

#include "json/value.hpp"
#include "json/written_array.hpp"

namespace app {

inline constexpr int exit_success = 0;
inline constexpr int exit_bad_command_line = 1;
inline constexpr int exit_output_failed = 101;

// From here on, an allocation that fails ends the program at once: "out of memory" on standard
// error, nothing on standard output, exit_output_failed. The entry points call it first.
void end_cleanly_when_memory_runs_out();

// The message and a line feed on standard error, then exit_bad_command_line; exit_output_failed
// when standard error cannot be written.
int refuse(std::string_view message);

// The document {"diagnostics":..., "<rows_key>":[rows...]} ("diagnostics" only when given) in
// the compact form and a line feed, in one write to standard output, then exit_success. When
// standard output cannot be written: a message on standard error and exit_output_failed.
int print_document(std::string_view rows_key, json::WrittenArray rows,
                   const json::Value* diagnostics);

}  // namespace app
