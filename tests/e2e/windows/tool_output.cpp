#include "tool_output.hpp"

#include <string_view>
#include <vector>

#include "support/strict_json.hpp"

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

namespace {

using testing_support::JsonNode;

bool is_null(const JsonNode* node) {
    return node != nullptr && node->kind == JsonNode::Kind::null;
}

// Processor times are doubles, never written as integers.
bool is_double(const JsonNode* node) {
    return node != nullptr && node->kind == JsonNode::Kind::number && !node->is_integer();
}

bool is_count(const JsonNode* node) {
    return node != nullptr && node->is_integer() && node->text[0] != '-';
}

bool is_text(const JsonNode* node, std::string_view text) {
    return node != nullptr && node->kind == JsonNode::Kind::string && node->text == text;
}

std::vector<std::string> keys_of(const JsonNode& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.members) keys.push_back(member.first);
    return keys;
}

std::optional<FoundSample> found_figures(const JsonNode& row) {
    const std::vector<std::string> row_keys = {"cpuPercent", "cpuSystemMs",     "cpuUserMs",
                                               "peak",       "pid",             "rssBytes",
                                               "status",     "systemPeakBytes", "unavailable"};
    const std::vector<std::string> peak_keys = {"rssBytes", "source", "windowMs"};
    const JsonNode* peak = row.find("peak");
    if (row.kind != JsonNode::Kind::object || keys_of(row) != row_keys || peak == nullptr ||
        keys_of(*peak) != peak_keys) {
        return std::nullopt;
    }
    if (!is_null(row.find("cpuPercent")) || !is_double(row.find("cpuSystemMs")) ||
        !is_double(row.find("cpuUserMs")) || !is_count(peak->find("rssBytes")) ||
        !is_text(peak->find("source"), "system") || !is_count(peak->find("windowMs")) ||
        !is_count(row.find("rssBytes")) || !is_text(row.find("status"), "found") ||
        !is_count(row.find("systemPeakBytes")) || !is_null(row.find("unavailable"))) {
        return std::nullopt;
    }
    return FoundSample{row.find("rssBytes")->as_unsigned(),
                       row.find("systemPeakBytes")->as_unsigned(),
                       peak->find("rssBytes")->as_unsigned()};
}

}  // namespace

std::optional<FoundSample> found_sample_row(const std::string& document, std::uint32_t pid) {
    const auto read = testing_support::read_json_line(document);
    const JsonNode* rows = read ? read->find("samples") : nullptr;
    if (rows == nullptr || rows->kind != JsonNode::Kind::array) return std::nullopt;
    for (const JsonNode& row : rows->items) {
        const JsonNode* row_pid = row.find("pid");
        if (row_pid != nullptr && row_pid->text == std::to_string(pid)) return found_figures(row);
    }
    return std::nullopt;
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
