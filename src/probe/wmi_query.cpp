// The WMI sequence from COM initialisation to the last result, one step per object owned: COM,
// the locator, the connection, the query, then the results one at a time. The query text and
// the readers of one result's properties follow.
#include "probe/wmi_query.hpp"

#include <charconv>

#include "diagnostics/timing_scope.hpp"
#include "text/utf.hpp"
#include "probe/com.hpp"

namespace probe {

// One query answers for every process: inspect asks once, for all it found.
std::size_t command_line_batch() { return 0; }

CommandLineResult command_lines(platform::Processes& /*processes*/,
                                std::span<const IdentityEntry> identities) {
    std::vector<std::uint32_t> found;
    for (const IdentityEntry& entry : identities) {
        if (entry.outcome.found()) found.push_back(entry.pid);
    }
    return wmi_command_lines(found);
}

CommandLineResult wmi_command_lines(const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::command_lines"};
    // S_FALSE (already initialised on this thread) counts as success and is balanced below.
    if (platform::co_initialize_ex(nullptr, platform::coinit_multithreaded) < 0) {
        return ProbeError{codes::com_init};
    }
    CommandLineResult result = query_command_lines(pids);
    platform::co_uninitialize();
    return result;
}

CommandLineResult query_command_lines(const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::query_command_lines"};
    ComOwner locator;
    if (platform::create_wbem_locator(platform::clsctx_inproc_server, locator.out()) < 0) {
        return ProbeError{codes::wmi_locator};
    }
    CommandLineResult result = query_connected(locator.get(), pids);
    locator.reset();
    return result;
}

CommandLineResult query_connected(platform::ComObject* locator,
                                  const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::query_connected"};
    ComOwner services;
    OwnedBstr name_space = bstr("ROOT\\CIMV2");
    // At most two minutes for a service that does not answer; a time-out is a failed
    // connection like any other.
    const platform::HResult connected = platform::connect_server(
        locator, name_space.get(), platform::wbem_flag_connect_use_max_wait, services.out());
    name_space.free();
    if (connected < 0) return ProbeError{codes::wmi_connect};

    CommandLineResult result = query_services(services.get(), pids);
    services.reset();
    return result;
}

CommandLineResult query_services(platform::ComObject* services,
                                 const std::vector<std::uint32_t>& pids) {
    diagnostics::TimingScope scope{"windows::query_services"};
    if (platform::set_proxy_blanket(services, platform::rpc_c_authn_winnt,
                                    platform::rpc_c_authz_none, platform::rpc_c_authn_level_call,
                                    platform::rpc_c_imp_level_impersonate,
                                    platform::eoac_none) < 0) {
        return ProbeError{codes::wmi_proxy};
    }

    ComOwner enumerator;
    OwnedBstr query = bstr(command_line_query(pids));
    OwnedBstr language = bstr("WQL");
    // Forward-only and immediate: results are fetched one by one, nothing is kept for rewinding.
    const platform::HResult queried = platform::exec_query(
        services, language.get(), query.get(),
        platform::wbem_flag_forward_only | platform::wbem_flag_return_immediately,
        enumerator.out());
    query.free();
    language.free();
    if (queried < 0) return ProbeError{codes::wmi_query};

    CommandLineResult result = collect_enumerator(enumerator.get());
    enumerator.reset();
    return result;
}

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

std::string command_line_query(const std::vector<std::uint32_t>& pids) {
    constexpr std::string_view prefix = "SELECT ProcessId, CommandLine FROM Win32_Process WHERE ";
    constexpr std::string_view condition = "ProcessId=";
    constexpr std::string_view separator = " OR ";
    constexpr std::size_t max_digits = 10;

    // One pass with the room reserved up front: tens of thousands of IDs stay linear.
    std::string text;
    text.reserve(prefix.size() + pids.size() * (separator.size() + condition.size() + max_digits));
    text += prefix;
    bool first = true;
    for (const std::uint32_t pid : pids) {
        if (!first) text += separator;
        first = false;
        text += condition;
        char digits[max_digits];
        const auto written = std::to_chars(digits, digits + max_digits, pid);
        text.append(digits, written.ptr);
    }
    return text;
}

std::variant<std::uint32_t, ProbeError> read_variant_pid(platform::ComObject* object) {
    diagnostics::TimingScope scope{"windows::read_variant_pid"};
    platform::Variant value{};
    const std::vector<char16_t> name = wide("ProcessId");
    // A failed Get leaves the VARIANT as it was: nothing to clear.
    if (platform::class_object_get(object, name.data(), 0, &value) < 0) {
        return ProbeError{codes::wmi_pid};
    }
    const FilledVariant filled{value};
    if (value.vt != platform::vt_i4 && value.vt != platform::vt_ui4) {
        return ProbeError{codes::wmi_pid_type};
    }
    // Same 32 bits, no range test: a VT_I4 of -1 is the ID 4294967295.
    return static_cast<std::uint32_t>(value.value.int32);
}

std::variant<std::optional<std::string>, ProbeError> read_variant_text(
    platform::ComObject* object, std::string_view property) {
    diagnostics::TimingScope scope{"windows::read_variant_text"};
    platform::Variant value{};
    const std::vector<char16_t> name = wide(property);
    if (platform::class_object_get(object, name.data(), 0, &value) < 0) {
        return ProbeError{codes::wmi_property};
    }
    const FilledVariant filled{value};
    if (value.vt == platform::vt_empty || value.vt == platform::vt_null) {
        return std::optional<std::string>{};
    }
    // Exactly VT_BSTR: with VT_ARRAY or VT_BYREF the pointer is not a string.
    if (value.vt != platform::vt_bstr) return ProbeError{codes::wmi_property_type};
    if (value.value.bstr == nullptr) return std::optional<std::string>{};

    // The BSTR's own length, so a zero unit inside the text does not cut it short.
    const std::u16string_view units{value.value.bstr, platform::sys_string_len(value.value.bstr)};
    return std::optional<std::string>{text::utf16_to_utf8(units)};
}

}  // namespace probe
