#include "platform/procfs/group_leadership.hpp"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/syscall.h>
#include <unistd.h>

namespace procfs {
namespace {

// tgkill counts PIDs in the tool's own PID namespace, /proc in the namespace it was mounted
// from (a new namespace may still see the host's /proc). They agree when /proc/self names the
// tool's own PID; looked at once per run.
bool signals_count_as_proc_does() {
    static const bool same = [] {
        char link[32];
        const auto length = ::readlink("/proc/self", link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof link) return false;
        return std::string_view{link, static_cast<std::size_t>(length)} ==
               std::to_string(::getpid());
    }();
    return same;
}

}  // namespace

Leadership leadership_by_signal_check(platform::Pid pid) {
    if (!signals_count_as_proc_does()) return Leadership::unknown;
    // Beyond int the call would name another ID, or every process (-1).
    if (pid == 0 || pid > static_cast<platform::Pid>(INT_MAX)) return Leadership::not_leader;
#ifdef SYS_tgkill
    const auto id = static_cast<int>(pid);
    if (::syscall(SYS_tgkill, id, id, 0) == 0) return Leadership::leader;
    if (errno == ESRCH) return Leadership::not_leader;
#endif
    return Leadership::unknown;
}

}  // namespace procfs
