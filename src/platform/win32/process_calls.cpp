// The process calls, each passed through to kernel32 with the arguments the probes give.

#include "platform/platform.hpp"
#include "platform/win32/windows_api.hpp"

#include <psapi.h>

namespace platform {
namespace {

HANDLE native(Handle handle) { return static_cast<HANDLE>(handle); }

void copy_filetime(const FILETIME& from, FileTime& to) {
    to.low = from.dwLowDateTime;
    to.high = from.dwHighDateTime;
}

}  // namespace

Handle open_process(std::uint32_t access, bool inherit, Pid pid) {
    HANDLE handle = OpenProcess(access, inherit ? TRUE : FALSE, pid);
    if (handle == nullptr) {
        // An ID with either low bit set is never a process of its own: the failed open was an
        // attempt on its neighbour (denied to us, say), and the asked process does not exist.
        if ((pid & 3u) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
        }
        return nullptr;
    }
    // Windows ignores the low two bits of a process ID, so OpenProcess(4001) may open process
    // 4000. Reading that process's figures under the asked ID would be a wrong answer: treat
    // the alias as the missing process it is.
    if (GetProcessId(handle) != pid) {
        CloseHandle(handle);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return handle;
}

std::uint32_t last_error() { return GetLastError(); }

bool exit_code_process(Handle handle, std::uint32_t& exit_code) {
    DWORD code = exit_code;
    const BOOL ok = GetExitCodeProcess(native(handle), &code);
    exit_code = code;
    return ok != FALSE;
}

bool process_times(Handle handle, FileTime& creation, FileTime& exit, FileTime& kernel,
                   FileTime& user) {
    FILETIME native_creation{}, native_exit{}, native_kernel{}, native_user{};
    const BOOL ok = GetProcessTimes(native(handle), &native_creation, &native_exit,
                                    &native_kernel, &native_user);
    copy_filetime(native_creation, creation);
    copy_filetime(native_exit, exit);
    copy_filetime(native_kernel, kernel);
    copy_filetime(native_user, user);
    return ok != FALSE;
}

bool process_cpu_times(Handle handle, FileTime& kernel, FileTime& user) {
    FileTime creation, exit;
    return process_times(handle, creation, exit, kernel, user);
}

bool process_memory_info(Handle handle, MemoryCounters& counters) {
    static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "the plain 64-bit record");
    PROCESS_MEMORY_COUNTERS record{};
    record.cb = sizeof(record);
    const BOOL ok = GetProcessMemoryInfo(native(handle), &record, sizeof(record));
    counters.working_set = record.WorkingSetSize;
    counters.peak_working_set = record.PeakWorkingSetSize;
    return ok != FALSE;
}

bool full_process_image_name(Handle handle, std::uint32_t flags, char16_t* buffer,
                             std::uint32_t& size) {
    DWORD units = size;
    const BOOL ok = QueryFullProcessImageNameW(native(handle), flags,
                                               reinterpret_cast<wchar_t*>(buffer), &units);
    size = units;
    return ok != FALSE;
}

// The image a Windows process was created with is the one it runs until it ends.
bool image_unchanged(Handle /*handle*/) { return true; }

void close_handle(Handle handle) { CloseHandle(native(handle)); }

// Nothing is kept: opening a process is one call here, and a handle held open would keep an
// ended process's ID from being given to another.
void keep_processes_between_requests() {}

Handle current_process() { return GetCurrentProcess(); }

}  // namespace platform
