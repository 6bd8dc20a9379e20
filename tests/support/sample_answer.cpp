#include "support/sample_answer.hpp"

#include "support/strict_json.hpp"

namespace testing_support {

std::optional<SampleCpu> one_found_sample(std::string_view answer) {
    const auto document = read_json_line(answer);
    const JsonNode* rows = document ? document->find("samples") : nullptr;
    if (rows == nullptr || rows->items.size() != 1) return std::nullopt;
    const JsonNode& row = rows->items[0];
    const JsonNode* status = row.find("status");
    if (status == nullptr || status->text != "found") return std::nullopt;
    SampleCpu figures;
    figures.cpu_ms = row.find("cpuUserMs")->as_double() + row.find("cpuSystemMs")->as_double();
    const JsonNode* percent = row.find("cpuPercent");
    if (percent->kind == JsonNode::Kind::number) figures.percent = percent->as_double();
    return figures;
}

}  // namespace testing_support
