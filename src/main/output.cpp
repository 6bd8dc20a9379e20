#include "main/output.hpp"

#include <string>

#include "json/writer.hpp"
#include "platform/platform.hpp"

namespace app {

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
