#include "diagnostics/function_rows.hpp"

#include <string>

namespace diagnostics {

namespace {

// Nearest double (ties to even), then milliseconds; the float form even for zero.
json::Value micros_to_millis(Micros micros) {
    return json::Value::from_double(static_cast<double>(micros) / 1000.0);
}

}  // namespace

json::Value function_row(const FunctionStats& stats) {
    json::Value row = json::Value::object();
    row.set("name", json::Value::string(std::string(stats.name)));
    row.set("calls", json::Value::from_unsigned(stats.calls));
    row.set("totalMs", micros_to_millis(stats.total_us));
    row.set("maxMs", micros_to_millis(stats.max_us));
    row.set("kind", json::Value::string("sync"));
    return row;
}

std::vector<json::Value> function_rows() {
    const RegistryReader reader;
    std::vector<json::Value> rows;
    rows.reserve(reader.rows().size() + 1);  // room for the row summary() adds
    for (const FunctionStats& stats : reader.rows()) rows.push_back(function_row(stats));
    return rows;
}

}  // namespace diagnostics
