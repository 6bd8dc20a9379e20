#pragma once
// The one seam between the tool and the operating system.
//
// Every call the probe logic, the query logic and the diagnostics rely on is declared here with
// neutral types. Exactly one backend defines them all: win32 (the real calls), procfs (Linux,
// answered from /proc) or the scriptable fake of the tests. CMake picks the backend; no code
// above this header includes an operating-system header.
//
// Calls never throw. Failures come back the way the Win32 calls report them (a null handle and
// a last error, a false result, a negative HRESULT), so the logic above reads the same on every
// backend.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Process calls
// ---------------------------------------------------------------------------------------------

using Pid = std::uint32_t;

// An open process handle as the backend gives it out; null means "no handle".
using Handle = void*;

inline constexpr std::uint32_t process_query_limited_information = 0x1000;
inline constexpr std::uint32_t error_invalid_parameter = 87;
inline constexpr std::uint32_t still_active = 259;
inline constexpr std::uint32_t image_name_units = 32768;

// A FILETIME: 100-ns ticks split into two halves.
struct FileTime {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

// The two working-set counters of PROCESS_MEMORY_COUNTERS that the tool reads, in bytes.
struct MemoryCounters {
    std::uint64_t working_set = 0;
    std::uint64_t peak_working_set = 0;
};

// OpenProcess(access, inherit, pid): a handle, or null with the reason in last_error().
Handle open_process(std::uint32_t access, bool inherit, Pid pid);

// GetLastError, read right after open_process returned null.
std::uint32_t last_error();

// GetExitCodeProcess: true on success; exit_code is still_active while the process runs.
bool exit_code_process(Handle handle, std::uint32_t& exit_code);

// GetProcessTimes: creation is a point in time (1601-based), kernel and user are durations.
bool process_times(Handle handle, FileTime& creation, FileTime& exit, FileTime& kernel,
                   FileTime& user);

// GetProcessTimes for a caller that uses only the two durations (the sample and the tool's own
// times): a backend whose creation time costs extra work (the boot time on Linux) skips it.
bool process_cpu_times(Handle handle, FileTime& kernel, FileTime& user);

// GetProcessMemoryInfo with a zeroed 72-byte PROCESS_MEMORY_COUNTERS.
bool process_memory_info(Handle handle, MemoryCounters& counters);

// QueryFullProcessImageNameW: `size` holds the buffer's room in UTF-16 units on entry and the
// number of units written, without the terminating null, on success.
bool full_process_image_name(Handle handle, std::uint32_t flags, char16_t* buffer,
                             std::uint32_t& size);

// Whether the process still runs the program it ran when full_process_image_name was first
// called on the handle, as far as the caller may see, by the latest process_times call since. A
// Windows process keeps its image for life, so win32 always answers true; a Linux process may
// execute another program and keep its ID and start time. Answered from what those calls saw,
// at no cost of its own.
bool image_unchanged(Handle handle);

// CloseHandle; the result is of no use to the caller.
void close_handle(Handle handle);

// From now on the backend may keep what it opened for a process after the handle closes, so
// that opening the same process in a later request costs less. What it keeps never changes an
// answer: a process that has ended is not found, and an ID given to another process opens that
// one. A session asks for it once, before its first request; the one-shot never does, and
// makes the calls it would make without it.
void keep_processes_between_requests();

// GetCurrentProcess: a pseudo-handle for the tool itself, never closed.
Handle current_process();

// ---------------------------------------------------------------------------------------------
// Monotonic clock
// ---------------------------------------------------------------------------------------------

struct Instant {
    std::uint64_t seconds = 0;
    std::uint32_t nanos = 0;  // 0 to 999,999,999
};

Instant monotonic_now();

// ---------------------------------------------------------------------------------------------
// Process start-up services
// ---------------------------------------------------------------------------------------------

// The value of an environment variable as UTF-8; nullopt when unset or not valid Unicode.
std::optional<std::string> environment_variable(const char* name);

// The arguments after the program name, as UTF-8. What is not valid Unicode (a lone surrogate
// on Windows, bytes that are not UTF-8 on Linux) becomes U+FFFD: such an argument is never a
// command word nor a process ID, so the command line's own rules refuse it, in order.
std::vector<std::string> arguments();

enum class Stream { out, err };

// Writes every byte, unbuffered. Returns the system's error text when the write fails.
std::optional<std::string> write(Stream stream, std::string_view bytes);

// Reads what standard input holds, at most `room` bytes into `buffer`, waiting until there is
// something: a pipe's or a console's bytes as they come, a file's in order. `got` is 0 at the
// end of the input, and when there is no standard input at all. Returns the system's error
// text when the read fails.
std::optional<std::string> read_input(char* buffer, std::size_t room, std::size_t& got);

// ---------------------------------------------------------------------------------------------
// COM and WMI
// ---------------------------------------------------------------------------------------------

using HResult = std::int32_t;

inline constexpr HResult s_ok = 0;
inline constexpr HResult s_false = 1;
inline constexpr HResult wbem_s_false = 1;
inline constexpr HResult wbem_s_timedout = 0x40004;
inline constexpr HResult e_fail = static_cast<HResult>(0x80004005u);
inline constexpr HResult e_invalidarg = static_cast<HResult>(0x80070057u);
inline constexpr HResult rpc_e_changed_mode = static_cast<HResult>(0x80010106u);
inline constexpr HResult wbem_e_invalid_namespace = static_cast<HResult>(0x8004100Eu);
inline constexpr HResult wbem_e_invalid_query = static_cast<HResult>(0x80041017u);

inline constexpr std::uint32_t coinit_multithreaded = 0;
inline constexpr std::uint32_t clsctx_inproc_server = 1;
inline constexpr std::uint32_t rpc_c_authn_winnt = 10;
inline constexpr std::uint32_t rpc_c_authz_none = 0;
inline constexpr std::uint32_t rpc_c_authn_level_call = 3;
inline constexpr std::uint32_t rpc_c_imp_level_impersonate = 3;
inline constexpr std::uint32_t eoac_none = 0;
// Bounds ConnectServer to two minutes when the service does not answer.
inline constexpr std::int32_t wbem_flag_connect_use_max_wait = 0x80;
inline constexpr std::int32_t wbem_flag_forward_only = 0x20;
inline constexpr std::int32_t wbem_flag_return_immediately = 0x10;
inline constexpr std::int32_t enumerator_timeout_ms = 3000;

// Any COM interface pointer (IWbemLocator, IWbemServices, IEnumWbemClassObject,
// IWbemClassObject); the backend knows which one it handed out.
struct ComObject;

// A BSTR: UTF-16 text whose length the allocator keeps.
using Bstr = char16_t*;

inline constexpr std::uint16_t vt_empty = 0;
inline constexpr std::uint16_t vt_null = 1;
inline constexpr std::uint16_t vt_i4 = 3;
inline constexpr std::uint16_t vt_bstr = 8;
inline constexpr std::uint16_t vt_ui4 = 19;
inline constexpr std::uint16_t vt_array = 0x2000;
inline constexpr std::uint16_t vt_byref = 0x4000;

// Laid out as the 64-bit VARIANT, so the win32 backend passes it to COM as it is.
struct Variant {
    std::uint16_t vt = vt_empty;
    std::uint16_t reserved[3] = {0, 0, 0};
    union {
        std::int32_t int32;
        Bstr bstr;
        void* record[2];
    } value = {.record = {}};  // all 16 bytes: `= {}` would zero only the first member
};
static_assert(sizeof(Variant) == 24, "Variant must match the 64-bit VARIANT");

// CoInitializeEx(reserved, coinit).
HResult co_initialize_ex(void* reserved, std::uint32_t coinit);
// CoUninitialize.
void co_uninitialize();
// CoCreateInstance(CLSID_WbemLocator, no outer object, class_context, IID_IWbemLocator, out).
HResult create_wbem_locator(std::uint32_t class_context, ComObject** locator);
// IWbemLocator::ConnectServer(ns, user, password, locale null; flags; authority, context null).
HResult connect_server(ComObject* locator, Bstr name_space, std::int32_t flags,
                       ComObject** services);
// CoSetProxyBlanket(services, authn, authz, no principal, level, impersonation, no identity,
// capabilities).
HResult set_proxy_blanket(ComObject* services, std::uint32_t authentication,
                          std::uint32_t authorization, std::uint32_t authentication_level,
                          std::uint32_t impersonation_level, std::uint32_t capabilities);
// IWbemServices::ExecQuery(language, query, flags, no context, out).
HResult exec_query(ComObject* services, Bstr language, Bstr query, std::int32_t flags,
                   ComObject** enumerator);
// IEnumWbemClassObject::Next(timeout, count, objects, returned).
HResult enumerator_next(ComObject* enumerator, std::int32_t timeout_ms, std::uint32_t count,
                        ComObject** objects, std::uint32_t* returned);
// IWbemClassObject::Get(name, flags, value, no type, no flavor).
HResult class_object_get(ComObject* object, const char16_t* name, std::int32_t flags,
                         Variant* value);
// IUnknown::Release; the remaining count.
std::uint32_t release(ComObject* object);

Bstr sys_alloc_string(const char16_t* text);
void sys_free_string(Bstr text);
std::uint32_t sys_string_len(Bstr text);
void variant_clear(Variant* value);

}  // namespace platform
