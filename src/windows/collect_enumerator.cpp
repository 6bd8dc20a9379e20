#include <optional>
#include <string>

#include "diagnostics/timing_scope.hpp"
#include "windows/com_owner.hpp"
#include "windows/command_line_query.hpp"
#include "windows/variant_reads.hpp"

namespace windows {
namespace {

// What one result object contributes: its ID and command line, or the error that ends the query.
struct ReadObject {
    std::uint32_t pid = 0;
    std::string command_line;
    std::optional<ProbeError> error;
};

ReadObject read_object(platform::ComObject* object) {
    ReadObject read;
    const auto pid = read_variant_pid(object);
    if (const ProbeError* error = std::get_if<ProbeError>(&pid)) {
        read.error = *error;
        return read;
    }
    read.pid = std::get<std::uint32_t>(pid);

    auto command_line = read_variant_text(object, "CommandLine");
    if (const ProbeError* error = std::get_if<ProbeError>(&command_line)) {
        read.error = *error;
    } else if (auto& text = std::get<std::optional<std::string>>(command_line); !text) {
        read.error = ProbeError{codes::wmi_command_line};
    } else {
        read.command_line = std::move(*text);
    }
    return read;
}

}  // namespace

CommandLineResult collect_enumerator(platform::ComObject* enumerator) {
    diagnostics::TimingScope scope{"windows::collect_enumerator"};
    constexpr std::int32_t timeout_ms = platform::enumerator_timeout_ms;
    CommandLineMap map;
    for (;;) {
        ComOwner object;
        std::uint32_t returned = 0;
        const platform::HResult next =
            platform::enumerator_next(enumerator, timeout_ms, 1, object.out(), &returned);
        // An object handed out alongside a failure is still ours: the owner releases it.
        if (returned == 0) {
            if (next == platform::wbem_s_false) return map;
            return ProbeError{codes::wmi_enumeration};  // also a time-out: no retry
        }
        if (next < 0 || object.get() == nullptr) return ProbeError{codes::wmi_enumeration};

        ReadObject read = read_object(object.get());
        object.reset();  // released before the outcome of the reads is acted on
        if (read.error) return *read.error;
        if (!map.emplace(read.pid, std::move(read.command_line)).second) {
            return ProbeError{codes::wmi_duplicate};
        }
    }
}

}  // namespace windows
