#include "sample/sample_rows.hpp"

namespace sample {

std::vector<json::Value> collect(const std::vector<std::uint32_t>& pids) {
    std::vector<json::Value> rows;
    rows.reserve(pids.size());
    for (const std::uint32_t pid : pids) {
        rows.push_back(row(pid, read_sample(pid)));
    }
    return rows;
}

}  // namespace sample
