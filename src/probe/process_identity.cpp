// Identities in the order inspect takes them: every process opened and read before the query,
// its creation time kept as text, and the recheck through the same handle after the query.
#include "probe/process_identity.hpp"

#include <charconv>
#include <memory>

#include "diagnostics/timing_scope.hpp"

namespace probe {

namespace {

ProbeOutcome<std::unique_ptr<ProcessIdentity>> kept_apart(ProbeOutcome<ProcessIdentity> outcome) {
    if (outcome.found()) return std::make_unique<ProcessIdentity>(std::move(outcome.value()));
    if (outcome.not_found()) return NotFound{};
    return outcome.error();
}

}  // namespace

IdentityList collect_identities(platform::Processes& processes,
                                std::span<const std::uint32_t> pids) {
    IdentityList identities;
    identities.reserve(pids.size());
    for (const std::uint32_t pid : pids) {
        identities.push_back(IdentityEntry{pid, kept_apart(handle_identity(processes, pid))});
    }
    return identities;
}

ProbeOutcome<ProcessIdentity> handle_identity(platform::Processes& processes, platform::Pid pid) {
    diagnostics::TimingScope scope{"windows::handle_identity"};
    ProbeOutcome<ProcessHandle> opened = probe::open_process(processes, pid);
    if (opened.not_found()) return NotFound{};
    if (opened.is_error()) return opened.error();
    // Closed on every early return below, inside this scope.
    ProcessHandle handle = std::move(opened.value());

    const auto activity = still_active(handle);
    if (const ProbeError* error = std::get_if<ProbeError>(&activity)) return *error;
    if (std::get<Activity>(activity) == Activity::exited) return NotFound{};

    platform::FileTime creation, kernel, user;
    if (!platform::process_times(processes, handle.get(), creation, kernel, user)) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_times};
    }

    // The program whose path is read next: the recheck tells whether it is still the one.
    platform::note_program(processes, handle.get());
    std::optional<std::string> executable_path = platform::executable_path(processes, handle.get());
    if (!executable_path) {
        if (terminated(handle)) return NotFound{};
        return ProbeError{codes::process_path};
    }

    return ProcessIdentity{tick_text(filetime(creation)), std::move(handle),
                           std::move(*executable_path)};
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

    platform::FileTime creation, kernel, user;
    if (!platform::process_times(handle.processes(), handle.get(), creation, kernel, user)) {
        return ProbeError{codes::process_times};
    }
    if (TickDigits{filetime(creation)}.text() != created_at) {
        return ProbeError{codes::process_changed};
    }
    // The same process that has executed another program since its identity was read: its
    // path and its command line may belong to two programs.
    if (!platform::runs_noted_program(handle.processes(), handle.get())) {
        return ProbeError{codes::process_changed};
    }
    return true;
}

}  // namespace probe
