// The process calls, each passed through to kernel32. An opened process is its HANDLE itself:
// opening a process is one call here, so a run or a session has nothing to hold between calls.

#include <algorithm>
#include <memory>

#include "platform/platform.hpp"
#include "platform/win32/windows_api.hpp"
#include "text/utf.hpp"

#include <psapi.h>

struct platform::Processes::State {};

namespace platform {
namespace {

// A handle is never stored as an OpenedProcess: the pointer only carries the HANDLE across the
// neutral header.
HANDLE native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle neutral(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

void copy_filetime(const FILETIME& from, FileTime& to) {
    to.low = from.dwLowDateTime;
    to.high = from.dwHighDateTime;
}

constexpr DWORD exit_code_still_active = 259;  // STILL_ACTIVE
// The longest path QueryFullProcessImageNameW can give, in UTF-16 units.
constexpr DWORD image_name_units = 32768;

OpenFailure open_failure(DWORD error) {
    switch (error) {
        case ERROR_INVALID_PARAMETER:
            return OpenFailure::no_such_process;
        case ERROR_ACCESS_DENIED:
            return OpenFailure::denied;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_NO_SYSTEM_RESOURCES:
        case ERROR_TOO_MANY_OPEN_FILES:
            return OpenFailure::out_of_descriptors;
        default:
            return OpenFailure::other;
    }
}

bool times_of(HANDLE handle, FileTime& creation, FileTime& kernel, FileTime& user) {
    FILETIME native_creation{}, native_exit{}, native_kernel{}, native_user{};
    const BOOL ok = GetProcessTimes(handle, &native_creation, &native_exit, &native_kernel,
                                    &native_user);
    copy_filetime(native_creation, creation);
    copy_filetime(native_kernel, kernel);
    copy_filetime(native_user, user);
    return ok != FALSE;
}

bool memory_of(HANDLE handle, MemoryCounters& counters) {
    static_assert(sizeof(PROCESS_MEMORY_COUNTERS) == 72, "the plain 64-bit record");
    PROCESS_MEMORY_COUNTERS record{};
    record.cb = sizeof(record);
    const BOOL ok = GetProcessMemoryInfo(handle, &record, sizeof(record));
    counters.working_set = record.WorkingSetSize;
    counters.peak_working_set = record.PeakWorkingSetSize;
    return ok != FALSE;
}

}  // namespace

Processes::Processes(Keeping /*keeping*/) : state_(std::make_unique<State>()) {}

Processes::~Processes() = default;

// Nothing is kept: a handle held open would keep an ended process's ID from being given to
// another.
void begin_request(Processes& /*processes*/) {}

bool forget_idle_processes(Processes& /*processes*/) { return false; }

Opened open_process(Processes& /*processes*/, Pid pid) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (handle == nullptr) {
        // An ID with either low bit set is never a process of its own: the failed open was an
        // attempt on its neighbour (denied to us, say), and the asked process does not exist.
        if ((pid & 3u) != 0) return {nullptr, OpenFailure::no_such_process};
        // The last error is only meaningful right after the failed open.
        return {nullptr, open_failure(GetLastError())};
    }
    // Windows ignores the low two bits of a process ID, so OpenProcess(4001) may open process
    // 4000. Reading that process's figures under the asked ID would be a wrong answer: treat
    // the alias as the missing process it is.
    if (GetProcessId(handle) != pid) {
        CloseHandle(handle);
        return {nullptr, OpenFailure::no_such_process};
    }
    return {neutral(handle), OpenFailure::none};
}

std::optional<Liveness> liveness(Processes& /*processes*/, Handle handle) {
    DWORD code = 0;
    if (GetExitCodeProcess(native(handle), &code) == FALSE) return std::nullopt;
    return code == exit_code_still_active ? Liveness::running : Liveness::exited;
}

bool process_times(Processes& /*processes*/, Handle handle, FileTime& creation,
                   FileTime& kernel, FileTime& user) {
    return times_of(native(handle), creation, kernel, user);
}

// The same call: the creation time costs nothing extra here.
bool process_cpu_times(Processes& /*processes*/, Handle handle, FileTime& kernel,
                       FileTime& user) {
    FileTime creation;
    return times_of(native(handle), creation, kernel, user);
}

bool process_memory(Processes& /*processes*/, Handle handle, MemoryCounters& counters) {
    return memory_of(native(handle), counters);
}

// The image a Windows process was created with is the one it runs until it ends: nothing to
// note, and nothing that could differ.
void note_program(Processes& /*processes*/, Handle /*handle*/) {}

bool runs_noted_program(Processes& /*processes*/, Handle /*handle*/) { return true; }

std::optional<std::string> executable_path(Processes& /*processes*/, Handle handle) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
    // Not zeroed: the call writes what we read, and 64 KiB per process adds up at scale.
    const auto units = std::make_unique_for_overwrite<wchar_t[]>(image_name_units);
    DWORD size = image_name_units;
    if (QueryFullProcessImageNameW(native(handle), 0, units.get(), &size) == FALSE) {
        return std::nullopt;
    }
    // Never trust a count beyond the buffer we gave.
    size = std::min(size, image_name_units);
    return text::utf16_to_utf8({reinterpret_cast<const char16_t*>(units.get()), size});
}

void close_process(Processes& /*processes*/, Handle handle) { CloseHandle(native(handle)); }

bool own_cpu_times(FileTime& kernel, FileTime& user) {
    FileTime creation;
    return times_of(GetCurrentProcess(), creation, kernel, user);
}

bool own_memory(MemoryCounters& counters) { return memory_of(GetCurrentProcess(), counters); }

}  // namespace platform
