#pragma once
// The tool's one-line document in the tests: exact rows where they are fully known, and rows
// read with the strict reader where they hold measured numbers.

#include <cstdint>
#include <optional>
#include <string>

namespace e2e {

std::string not_found_sample_row(std::uint32_t pid);
std::string error_sample_row(std::uint32_t pid, const std::string& code);

// The figures of the found sample row for `pid`, when the document reads strictly and holds
// such a row in its exact shape.
struct FoundSample {
    std::uint64_t rss_bytes = 0;
    std::uint64_t system_peak_bytes = 0;
    std::uint64_t peak_rss_bytes = 0;
};
std::optional<FoundSample> found_sample_row(const std::string& document, std::uint32_t pid);

// Text as the tool writes it inside a JSON string (UTF-8 in, quotes not included).
std::string json_escaped(const std::string& text);

std::string not_found_inspect_row(std::uint32_t pid);
std::string error_inspect_row(std::uint32_t pid, const std::string& code);
std::string found_inspect_row(std::uint32_t pid, const std::string& command_line,
                              std::uint64_t created_at, const std::string& executable_path);

}  // namespace e2e
