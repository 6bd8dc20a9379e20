#pragma once
// The identity of a process for the inspect command: taken once, with its handle kept open so
// the same process can be rechecked after the command-line query.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/platform.hpp"
#include "probe/process_handle.hpp"

namespace probe {

struct ProcessIdentity {
    std::string created_at;  // creation ticks since 1601 as decimal text
    ProcessHandle handle;    // open until the process's row is built
    std::string executable_path;

    ProcessIdentity(std::string created_at, ProcessHandle handle, std::string executable_path)
        : created_at(std::move(created_at)),
          handle(std::move(handle)),
          executable_path(std::move(executable_path)) {}
    // The handle is closed before the strings go, whatever the member order says.
    ~ProcessIdentity() { handle.close(); }

    ProcessIdentity(ProcessIdentity&&) noexcept = default;
    ProcessIdentity& operator=(ProcessIdentity&&) noexcept = default;
};

// A found identity is kept apart from its entry: most entries of a long list are not found,
// and each would otherwise take the room of an identity.
struct IdentityEntry {
    std::uint32_t pid = 0;
    ProbeOutcome<std::unique_ptr<ProcessIdentity>> outcome;
};

// One entry per process ID, in the order asked; found entries hold their handles open.
using IdentityList = std::vector<IdentityEntry>;

// Every ID of `pids` probed, in order, before it returns, so all handles are open for the query.
IdentityList collect_identities(platform::Processes& processes,
                                std::span<const std::uint32_t> pids);

// Opens the process and reads its creation time and executable path, keeping the handle; notes
// the program it runs just before the path is read, for the recheck.
// Found, not_found, or error "OPEN_PROCESS", "PROCESS_STATE", "PROCESS_TIMES", "PROCESS_PATH";
// on every path but found the handle is closed before it returns.
// Scope "windows::handle_identity".
ProbeOutcome<ProcessIdentity> handle_identity(platform::Processes& processes, platform::Pid pid);

// Creation times as the decimal text the inspect rows print: digits only, no leading zeros,
// "0" for zero.
std::string tick_text(std::uint64_t ticks);

// The recheck before an inspect row, through the held handle. True: still running with the
// creation time `created_at`, the program it ran then. False: it has ended. Error
// "PROCESS_STATE", "PROCESS_TIMES", or "PROCESS_CHANGED" when the creation time differs (the
// ID now names another process) or the process has executed another program since. Neither
// opens nor closes the handle. Scope "windows::alive_and_same".
std::variant<bool, ProbeError> alive_and_same(const ProcessHandle& handle,
                                              std::string_view created_at);

}  // namespace probe
