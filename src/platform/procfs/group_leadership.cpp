#include "platform/procfs/group_leadership.hpp"

#include <cerrno>
#include <climits>
#include <sys/syscall.h>
#include <unistd.h>

namespace procfs {

Leadership leadership_by_signal_check(platform::Pid pid) {
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
