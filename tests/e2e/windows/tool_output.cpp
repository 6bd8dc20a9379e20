#include "tool_output.hpp"

#include <regex>

namespace e2e {

std::string not_found_sample_row(std::uint32_t pid) {
    return R"({"cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":)" +
           std::to_string(pid) +
           R"(,"rssBytes":null,"status":"not_found","systemPeakBytes":null,"unavailable":"PROCESS_NOT_FOUND"})";
}

std::string error_sample_row(std::uint32_t pid, const std::string& code) {
    return R"({"code":")" + code +
           R"(","cpuPercent":null,"cpuSystemMs":null,"cpuUserMs":null,"peak":null,"pid":)" +
           std::to_string(pid) +
           R"(,"rssBytes":null,"status":"error","systemPeakBytes":null,"unavailable":")" + code +
           R"("})";
}

std::optional<FoundSample> found_sample_row(const std::string& document, std::uint32_t pid) {
    // Processor times are doubles: always with a point or an exponent.
    const std::string milliseconds = R"(-?[0-9]+(?:\.[0-9]+)?(?:e[+-]?[0-9]+)?)";
    const std::regex row(
        R"(\{"cpuPercent":null,"cpuSystemMs":)" + milliseconds + R"(,"cpuUserMs":)" +
        milliseconds + R"(,"peak":\{"rssBytes":([0-9]+),"source":"system","windowMs":[0-9]+\},"pid":)" +
        std::to_string(pid) +
        R"(,"rssBytes":([0-9]+),"status":"found","systemPeakBytes":([0-9]+),"unavailable":null\})");
    std::smatch match;
    if (!std::regex_search(document, match, row)) {
        return std::nullopt;
    }
    return FoundSample{std::stoull(match[2]), std::stoull(match[3]), std::stoull(match[1])};
}

std::string json_escaped(const std::string& text) {
    std::string escaped;
    for (const char byte : text) {
        switch (byte) {
            case '"': escaped += "\\\""; break;
            case '\\': escaped += "\\\\"; break;
            default: escaped.push_back(byte);
        }
    }
    return escaped;
}

std::string not_found_inspect_row(std::uint32_t pid) {
    return R"({"pid":)" + std::to_string(pid) + R"(,"status":"not_found"})";
}

std::string error_inspect_row(std::uint32_t pid, const std::string& code) {
    return R"({"code":")" + code + R"(","pid":)" + std::to_string(pid) + R"(,"status":"error"})";
}

std::string found_inspect_row(std::uint32_t pid, const std::string& command_line,
                              std::uint64_t created_at, const std::string& executable_path) {
    return R"({"commandLine":")" + json_escaped(command_line) + R"(","createdAt":")" +
           std::to_string(created_at) + R"(","executablePath":")" +
           json_escaped(executable_path) + R"(","pid":)" + std::to_string(pid) +
           R"(,"status":"found"})";
}

}  // namespace e2e
