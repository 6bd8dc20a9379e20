#include "main/output.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "json/writer.hpp"
#include "platform/platform.hpp"

namespace app {
namespace {

// Called by operator new when it finds no memory, before anything is thrown: no stack unwinds
// through code that cannot take an exception. The document goes out only once it is whole, so
// nothing of it has gone out yet (unless the write of it failed part-way, and its error text
// found no memory: status 101 then tells the caller to discard what did). This path allocates
// nothing: the text is fixed and the write unbuffered.
[[noreturn]] void out_of_memory() {
    static std::atomic<bool> entered{false};
    if (!entered.exchange(true)) {
        platform::write(platform::Stream::err, "out of memory\n");
    }
    std::_Exit(exit_output_failed);
}

// One line, the whole of it in one write: a failing stream then leaves no partial line behind.
int print_line(std::string_view line) {
    if (const auto error = platform::write(platform::Stream::out, line)) {
        // If standard error fails too there is nowhere left to say so; the status tells.
        platform::write(platform::Stream::err, "failed printing to stdout: " + *error + "\n");
        return exit_output_failed;
    }
    return exit_success;
}

}  // namespace

void end_cleanly_when_memory_runs_out() { std::set_new_handler(out_of_memory); }

int refuse(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 1);
    line.append(message).push_back('\n');
    if (platform::write(platform::Stream::err, line)) return exit_output_failed;
    return exit_bad_command_line;
}

int print_document(std::string_view rows_key, json::WrittenArray rows,
                   const json::Value* diagnostics, std::string* room) {
    // The members in byte order: "diagnostics" comes before "processes" and "samples".
    std::string before_rows = "{";
    if (diagnostics != nullptr) {
        before_rows += "\"diagnostics\":";
        json::write_compact(before_rows, *diagnostics);
        before_rows += ',';
    }
    json::write_compact(before_rows, json::Value::string(std::string{rows_key}));
    before_rows += ':';

    // The whole document in one buffer, written only once it is complete: a run that ends
    // before this point has written none of it. A write can still stop part-way (a full disk
    // takes what fits); the status 101 is what tells the caller to discard it. The buffer is the rows' own,
    // with the rest put in the room kept around them: a document of megabytes is not copied
    // whole once more (only a diagnostics object larger than that room would move it).
    std::string text = std::move(rows).take_text();
    text.reserve(before_rows.size() + text.size() + 2);
    text.insert(0, before_rows);
    text += "}\n";
    const int status = print_line(text);
    if (room != nullptr) *room = std::move(text);
    return status;
}

int print_refusal(std::string_view message) {
    std::string line = "{\"error\":";
    json::write_compact(line, json::Value::string(std::string{message}));
    line += "}\n";
    return print_line(line);
}

int fail_reading_input(std::string_view error) {
    std::string line = "failed reading from stdin: ";
    line.append(error).push_back('\n');
    // If standard error fails too there is nowhere left to say so; the status tells.
    platform::write(platform::Stream::err, line);
    return exit_input_failed;
}

}  // namespace app
