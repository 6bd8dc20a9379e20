#pragma once
// Does a PID name a process (a thread-group leader), or a thread of one, or nobody?

#include "platform/platform.hpp"

namespace procfs {

enum class Leadership { leader, not_leader, unknown };

// tgkill(pid, pid, 0) finds the task and checks that it leads its thread group, so it tells a
// process from a thread or from nobody in one cheap call, with no text for the kernel to
// format and no descriptor. unknown when the call cannot answer (EPERM: another user's
// process, or a sandbox refusing the call) or would count in another PID namespace than /proc
// does; the caller then asks the status file.
Leadership leadership_by_signal_check(platform::Pid pid);

}  // namespace procfs
