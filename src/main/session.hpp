#pragma once
// `zul-process serve`: a session that answers requests read from standard input.

namespace app {

// What the command line asks for when it is "serve" alone.
struct Serve {};

// Answers each line of standard input with one line on standard output, in order, each
// written as soon as it is made: the document the one-shot prints for the same words (with
// "cpuPercent" since the session's earlier reading), or {"error":"<message>"} for words the
// one-shot refuses. exit_success at the end of the input; exit_output_failed when standard
// output cannot be written, exit_input_failed when standard input cannot be read, each after
// a message on standard error.
int serve();

}  // namespace app
