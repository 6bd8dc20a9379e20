#include <string>

#include "diagnostics/timing_scope.hpp"
#include "sample/inspect_rows.hpp"

namespace sample {

// Keys are set in byte order, so each set appends to the block reserved for the row's keys.
json::Value row(std::uint32_t pid, InspectResult result) {
    diagnostics::TimingScope scope{"row"};
    using json::Value;
    if (result.found()) {
        InspectedProcess& process = result.value();
        Value row = Value::object(5);
        row.set("commandLine", Value::string(std::move(process.command_line)));
        row.set("createdAt", Value::string(std::move(process.created_at)));
        row.set("executablePath", Value::string(std::move(process.executable_path)));
        row.set("pid", Value::from_unsigned(pid));
        row.set("status", Value::string("found"));
        return row;
    }
    if (result.not_found()) {
        Value row = Value::object(2);
        row.set("pid", Value::from_unsigned(pid));
        row.set("status", Value::string("not_found"));
        return row;
    }
    Value row = Value::object(3);
    row.set("code", Value::string(std::string(result.error().code)));
    row.set("pid", Value::from_unsigned(pid));
    row.set("status", Value::string("error"));
    return row;
}

}  // namespace sample
