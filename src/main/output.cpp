#include "main/output.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "json/writer.hpp"
#include "platform/platform.hpp"

namespace app {
namespace {

// Called by operator new when it finds no memory, before anything is thrown: no stack unwinds
// through code that cannot take an exception. The document is written in one piece at the end,
// so nothing of it has gone out yet. This path allocates nothing: the text is fixed and the
// write unbuffered. A failing write whose error text needs memory comes back here, and ends.
[[noreturn]] void out_of_memory() {
    static std::atomic<bool> entered{false};
    if (!entered.exchange(true)) {
        platform::write(platform::Stream::err, "out of memory\n");
    }
    std::_Exit(exit_output_failed);
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

int print_document(const json::Value& document, std::size_t expected_size) {
    // One buffer and one write: a failing stream then leaves no partial line behind us. Room
    // for the whole text saves the copies of a growing buffer and its peak of old and new.
    std::string text;
    text.reserve(expected_size);
    json::write_compact(text, document);
    text.push_back('\n');
    if (const auto error = platform::write(platform::Stream::out, text)) {
        // If standard error fails too there is nowhere left to say so; the status tells.
        platform::write(platform::Stream::err, "failed printing to stdout: " + *error + "\n");
        return exit_output_failed;
    }
    return exit_success;
}

}  // namespace app
