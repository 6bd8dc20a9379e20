#include <string>

#include "diagnostics/timing_scope.hpp"
#include "sample/inspect_rows.hpp"

namespace sample {

json::Value row(std::uint32_t pid, InspectResult result) {
    diagnostics::TimingScope scope{"row"};
    using json::Value;
    Value row = Value::object();
    row.set("pid", Value::from_unsigned(pid));
    if (result.found()) {
        InspectedProcess& process = result.value();
        row.set("status", Value::string("found"));
        row.set("createdAt", Value::string(std::move(process.created_at)));
        row.set("executablePath", Value::string(std::move(process.executable_path)));
        row.set("commandLine", Value::string(std::move(process.command_line)));
    } else if (result.not_found()) {
        row.set("status", Value::string("not_found"));
    } else {
        row.set("status", Value::string("error"));
        row.set("code", Value::string(std::string(result.error().code)));
    }
    return row;
}

}  // namespace sample
