#include "diagnostics/summary.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include "diagnostics/function_rows.hpp"
#include "diagnostics/internal_fault.hpp"
#include "diagnostics/resources.hpp"
#include "diagnostics/timing_scope.hpp"

namespace diagnostics {

namespace {

constexpr std::string_view function_rows_name = "diagnostics::function_rows";

bool is_row_named(const json::Value& row, std::string_view name) {
    const json::Value* row_name = row.is_object() ? row.find("name") : nullptr;
    return row_name != nullptr && row_name->is_string() && row_name->as_string() == name;
}

// The snapshot's own row, with the time of the snapshot in it.
json::Value current_function_rows_row() {
    const RegistryReader reader;
    const FunctionStats* stats = reader.find(function_rows_name);
    if (stats == nullptr) internal_fault("function_rows scope");
    return function_row(*stats);
}

}  // namespace

json::Value summary(platform::Instant run_start) {
    const platform::Instant summary_start = platform::monotonic_now();
    json::Value resource_object = resources(run_start);
    record_elapsed("diagnostics::summary", summary_start);

    const platform::Instant rows_start = platform::monotonic_now();
    std::vector<json::Value> rows = function_rows();
    record_elapsed(function_rows_name, rows_start);

    json::Value own_row = current_function_rows_row();
    auto at = std::find_if(rows.begin(), rows.end(), [](const json::Value& row) {
        return is_row_named(row, function_rows_name);
    });
    if (at != rows.end()) {
        *at = std::move(own_row);
    } else {
        rows.push_back(std::move(own_row));
    }

    json::Value diagnostics = json::Value::object();
    diagnostics.set("functions", json::Value::array(std::move(rows)));
    diagnostics.set("resources", std::move(resource_object));
    return diagnostics;
}

}  // namespace diagnostics
