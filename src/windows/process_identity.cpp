// Identities in the order inspect takes them: every process opened and read before the query,
// its creation time kept as text, and the recheck through the same handle after the query.
#include "windows/process_identity.hpp"

#include <algorithm>
#include <charconv>
#include <memory>

#include "diagnostics/timing_scope.hpp"
#include "text/utf.hpp"

namespace windows {

namespace {

ProbeOutcome<std::unique_ptr<ProcessIdentity>> kept_apart(ProbeOutcome<ProcessIdentity> outcome) {
    if (outcome.found()) return std::make_unique<ProcessIdentity>(std::move(outcome.value()));
    if (outcome.not_found()) return NotFound{};
    return outcome.error();
}

}  // namespace

IdentityList collect_identities(const std::vector<std::uint32_t>& pids) {
    IdentityList identities;
    identities.reserve(pids.size());
    for (const std::uint32_t pid : pids) {
        identities.push_back(IdentityEntry{pid, kept_apart(handle_identity(pid))});
    }
    return identities;
}

ProbeOutcome<ProcessIdentity> handle_identity(platform::Pid pid) {
    diagnostics::TimingScope scope{"windows::handle_identity"};
    ProbeOutcome<ProcessHandle> opened = open_process(pid);
    if (opened.not_found()) return NotFound{};
    if (opened.is_error()) return opened.error();
    // Closed on every early return below, inside this scope.
    ProcessHandle handle = std::move(opened.value());

    const auto activity = still_active(handle);
    if (const ProbeError* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return NotFound{};

    platform::FileTime creation, exit, kernel, user;
    if (!platform::process_times(handle.get(), creation, exit, kernel, user)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_times};
    }

    // Not zeroed: the call writes what we read, and 64 KiB per process adds up at scale.
    const auto image_name = std::make_unique_for_overwrite<char16_t[]>(platform::image_name_units);
    std::uint32_t size = platform::image_name_units;
    if (!platform::full_process_image_name(handle.get(), 0, image_name.get(), size)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_path};
    }
    // Never trust a count beyond the buffer we gave.
    size = std::min(size, platform::image_name_units);
    std::string executable_path = text::utf16_to_utf8({image_name.get(), size});

    return ProcessIdentity{tick_text(filetime(creation)), std::move(handle),
                           std::move(executable_path)};
}

namespace {

// The decimal digits of a tick count, on the stack: the recheck compares them without making a
// string, which at 18 digits would not fit the small-string room and be allocated.
struct TickDigits {
    explicit TickDigits(std::uint64_t ticks)
        : length(static_cast<std::size_t>(
              std::to_chars(digits, digits + sizeof digits, ticks).ptr - digits)) {}
    std::string_view text() const { return {digits, length}; }

    char digits[20];  // 2^64 - 1 has 20 digits
    std::size_t length;
};

}  // namespace

std::string tick_text(std::uint64_t ticks) {
    return std::string(TickDigits{ticks}.text());
}

std::variant<bool, ProbeError> alive_and_same(const ProcessHandle& handle,
                                              std::string_view created_at) {
    diagnostics::TimingScope scope{"windows::alive_and_same"};
    const auto activity = still_active(handle);
    if (const ProbeError* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return false;

    platform::FileTime creation, exit, kernel, user;
    if (!platform::process_times(handle.get(), creation, exit, kernel, user)) {
        return ProbeError{codes::process_times};
    }
    if (TickDigits{filetime(creation)}.text() != created_at) {
        return ProbeError{codes::process_changed};
    }
    // The same process that has executed another program since its identity was read: its
    // path and its command line may belong to two programs.
    if (!platform::image_unchanged(handle.get())) {
        return ProbeError{codes::process_changed};
    }
    return true;
}

}  // namespace windows
