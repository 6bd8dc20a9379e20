// The fake platform's process calls, answered from the scripts in processes.hpp.

#include "fake/processes.hpp"

#include "fake/runtime.hpp"
#include "text/utf.hpp"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <utility>

// The fake keeps its scripts for the whole test program; a Processes of its own holds nothing.
struct platform::Processes::State {};

namespace fake {
namespace {

// How often each call has reached one process, to pick the scripted answer of the n-th call.
struct CallCounts {
    unsigned open = 0;
    unsigned exit_code = 0;
    unsigned times = 0;
    unsigned memory = 0;
    unsigned image_name = 0;
    unsigned noted_program = 0;
    unsigned command_line = 0;
};

struct Scripted {
    Process script;
    CallCounts calls;
};

struct HandleRecord {
    platform::Pid pid = 0;
    const platform::Processes* processes = nullptr;  // what it was opened through
    bool open = true;
    bool noted = false;  // note_program was called through it
};

constexpr std::uint32_t error_invalid_handle = 6;
constexpr std::uint32_t error_insufficient_buffer = 122;
constexpr std::uint32_t error_invalid_parameter = 87;
constexpr std::uint32_t process_query_limited_information = 0x1000;

// What the win32 backend makes of OpenProcess's last error.
platform::OpenFailure open_failure(std::uint32_t error) {
    switch (error) {
        case error_invalid_parameter:
            return platform::OpenFailure::no_such_process;
        case 5:  // ERROR_ACCESS_DENIED
            return platform::OpenFailure::denied;
        case 4:     // ERROR_TOO_MANY_OPEN_FILES
        case 8:     // ERROR_NOT_ENOUGH_MEMORY
        case 14:    // ERROR_OUTOFMEMORY
        case 1450:  // ERROR_NO_SYSTEM_RESOURCES
            return platform::OpenFailure::out_of_descriptors;
        default:
            return platform::OpenFailure::other;
    }
}

struct State {
    std::unordered_map<platform::Pid, Scripted> processes;
    Scripted self;
    std::unordered_map<std::uintptr_t, HandleRecord> handles;
    std::uintptr_t next_handle = 0x1000;
    std::size_t open_handles = 0;
    std::uint32_t last_error = 0;
    std::vector<std::string> violations;
    std::vector<std::string> log;
    std::size_t creation_times_asked = 0;
    unsigned kept_for_calls = 0;
    std::size_t forget_idle_calls = 0;
};

State& state() {
    static State instance;
    return instance;
}

platform::FileTime to_filetime(std::uint64_t ticks) {
    return platform::FileTime{static_cast<std::uint32_t>(ticks),
                              static_cast<std::uint32_t>(ticks >> 32)};
}

template <typename T>
const T& nth(const std::vector<T>& values, unsigned call, const T& fallback) {
    if (values.empty()) return fallback;
    return values[std::min<std::size_t>(call, values.size()) - 1];
}

// The process behind a handle and its name in the log; null for a closed or unknown handle,
// which is also recorded as a violation of `call`.
struct Resolved {
    Scripted* process = nullptr;
    HandleRecord* record = nullptr;
    std::string name;
};

Resolved resolve(const platform::Processes& processes, platform::Handle handle,
                 std::string_view call) {
    State& s = state();
    auto found = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == s.handles.end()) {
        s.violations.push_back(std::string(call) + " through a bogus handle");
        return {nullptr, nullptr, "bogus"};
    }
    std::string name = std::to_string(found->second.pid);
    if (!found->second.open) {
        s.violations.push_back(std::string(call) + " through closed handle of " + name);
        return {nullptr, nullptr, name};
    }
    if (found->second.processes != &processes) {
        s.violations.push_back(std::string(call) + " on the handle of " + name +
                               " through another Processes than it was opened through");
    }
    // A handle stays usable after its process lost its script only if the script is still
    // there; tests never drop scripts while handles are open, so this is always found.
    return {&s.processes[found->second.pid], &found->second, name};
}

void log_call(std::string_view call, const std::string& argument) {
    state().log.push_back(std::string(call) + "(" + argument + ")");
}

bool fail(std::uint32_t error) {
    state().last_error = error;
    return false;
}

// GetProcessTimes as process_times, process_cpu_times and own_cpu_times answer it.
bool scripted_times(Scripted* scripted, const std::string& name, platform::FileTime& creation,
                    platform::FileTime& kernel, platform::FileTime& user) {
    log_call("GetProcessTimes", name);
    if (scripted == nullptr) return fail(error_invalid_handle);
    const unsigned call = ++scripted->calls.times;
    const Process& script = scripted->script;
    if (script.times_fail.fails_on(call)) return fail(failed_call_error);
    creation = to_filetime(nth(script.creation_ticks, call, std::uint64_t{0}));
    kernel = to_filetime(script.kernel_ticks);
    user = to_filetime(script.user_ticks);
    return true;
}

// GetProcessMemoryInfo as process_memory and own_memory answer it.
bool scripted_memory(Scripted* scripted, const std::string& name,
                     platform::MemoryCounters& counters) {
    log_call("GetProcessMemoryInfo", name);
    if (scripted == nullptr) return fail(error_invalid_handle);
    const Process& script = scripted->script;
    if (script.memory_fails.fails_on(++scripted->calls.memory)) return fail(failed_call_error);
    counters.working_set = script.working_set;
    counters.peak_working_set = script.peak_working_set;
    return true;
}

}  // namespace

void reset_processes() { state() = State{}; }

void keep_between_requests(unsigned calls) { state().kept_for_calls = calls; }

std::size_t forget_idle_calls() { return state().forget_idle_calls; }

Process& process(platform::Pid pid) { return state().processes[pid].script; }

Process& self_process() { return state().self.script; }

std::size_t open_handles() { return state().open_handles; }

const std::vector<std::string>& violations() { return state().violations; }

const std::vector<std::string>& call_log() { return state().log; }

void clear_call_log() { state().log.clear(); }

std::size_t calls_named(std::string_view name) {
    return static_cast<std::size_t>(
        std::count_if(state().log.begin(), state().log.end(), [name](const std::string& entry) {
            return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
                   entry[name.size()] == '(';
        }));
}

std::size_t creation_times_asked() { return state().creation_times_asked; }

}  // namespace fake

namespace platform {

Processes::Processes(Keeping /*keeping*/) : state_(std::make_unique<State>()) {}

Processes::~Processes() = default;

// The fake keeps nothing between requests.
void begin_request(Processes& /*processes*/) {}

bool forget_idle_processes(Processes& /*processes*/) {
    fake::State& s = fake::state();
    ++s.forget_idle_calls;
    if (s.kept_for_calls == 0) return false;
    --s.kept_for_calls;
    return true;
}

// OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid), and GetLastError after a failure,
// as the win32 backend calls them.
Opened open_process(Processes& processes, Pid pid) {
    fake::State& s = fake::state();
    fake::log_call("OpenProcess", std::to_string(fake::process_query_limited_information) +
                                      ",0," + std::to_string(pid));
    auto found = s.processes.find(pid);
    bool opened = false;
    bool earlier_gone = false;
    if (found == s.processes.end()) {
        fake::fail(fake::error_invalid_parameter);
    } else {
        fake::Scripted& scripted = found->second;
        fake::advance_clock(scripted.script.open_takes_nanos);
        const unsigned call = ++scripted.calls.open;
        const std::vector<bool>& gone = scripted.script.earlier_process_gone;
        earlier_gone = !gone.empty() && gone[std::min<std::size_t>(call, gone.size()) - 1];
        if (scripted.script.open_fails.fails_on(call)) {
            fake::fail(scripted.script.open_error);
        } else {
            opened = true;
        }
    }
    if (!opened) {
        fake::log_call("GetLastError", "");
        return {nullptr, fake::open_failure(s.last_error), earlier_gone};
    }
    const std::uintptr_t value = s.next_handle;
    s.next_handle += 4;
    s.handles.emplace(value, fake::HandleRecord{pid, &processes});
    ++s.open_handles;
    return {reinterpret_cast<Handle>(value), OpenFailure::none, earlier_gone};
}

// GetExitCodeProcess.
std::optional<Liveness> liveness(Processes& processes, Handle handle) {
    auto resolved = fake::resolve(processes, handle, "GetExitCodeProcess");
    fake::log_call("GetExitCodeProcess", resolved.name);
    fake::Scripted* scripted = resolved.process;
    if (scripted == nullptr) {
        fake::fail(fake::error_invalid_handle);
        return std::nullopt;
    }
    const unsigned call = ++scripted->calls.exit_code;
    if (scripted->script.exit_code_fails.fails_on(call)) {
        fake::fail(fake::failed_call_error);
        return std::nullopt;
    }
    const std::uint32_t exit_code = fake::nth(scripted->script.exit_codes, call, fake::still_active);
    return exit_code == fake::still_active ? Liveness::running : Liveness::exited;
}

bool process_times(Processes& processes, Handle handle, FileTime& creation, FileTime& kernel,
                   FileTime& user) {
    ++fake::state().creation_times_asked;
    auto resolved = fake::resolve(processes, handle, "GetProcessTimes");
    return fake::scripted_times(resolved.process, resolved.name, creation, kernel, user);
}

// The same call as on Windows, scripted and logged as GetProcessTimes.
bool process_cpu_times(Processes& processes, Handle handle, FileTime& kernel, FileTime& user) {
    auto resolved = fake::resolve(processes, handle, "GetProcessTimes");
    FileTime creation;
    return fake::scripted_times(resolved.process, resolved.name, creation, kernel, user);
}

bool process_memory(Processes& processes, Handle handle, MemoryCounters& counters) {
    auto resolved = fake::resolve(processes, handle, "GetProcessMemoryInfo");
    return fake::scripted_memory(resolved.process, resolved.name, counters);
}

// No Win32 call: nothing is logged, but the handle remembers it was noted, so that a probe that
// forgets to note the program sees no replacement.
void note_program(Processes& processes, Handle handle) {
    auto resolved = fake::resolve(processes, handle, "NoteProgram");
    if (resolved.record != nullptr) resolved.record->noted = true;
}

bool runs_noted_program(Processes& processes, Handle handle) {
    auto resolved = fake::resolve(processes, handle, "RunsNotedProgram");
    fake::log_call("RunsNotedProgram", resolved.name);
    if (resolved.process == nullptr || !resolved.record->noted) return true;
    const unsigned call = ++resolved.process->calls.noted_program;
    return !resolved.process->script.image_replaced.fails_on(call);
}

// QueryFullProcessImageNameW(handle, 0, buffer, size) into the win32 backend's buffer, then
// the same conversion to UTF-8.
std::optional<std::string> executable_path(Processes& processes, Handle handle) {
    auto resolved = fake::resolve(processes, handle, "QueryFullProcessImageNameW");
    fake::log_call("QueryFullProcessImageNameW",
                   resolved.name + ",0," + std::to_string(fake::image_name_units));
    fake::Scripted* scripted = resolved.process;
    if (scripted == nullptr) {
        fake::fail(fake::error_invalid_handle);
        return std::nullopt;
    }
    const fake::Process& script = scripted->script;
    if (script.image_name_fails.fails_on(++scripted->calls.image_name)) {
        fake::fail(fake::failed_call_error);
        return std::nullopt;
    }
    if (script.image_name.size() >= fake::image_name_units) {
        fake::fail(fake::error_insufficient_buffer);
        return std::nullopt;
    }
    return text::utf16_to_utf8(script.image_name);
}

// CloseHandle.
void close_process(Processes& processes, Handle handle) {
    fake::State& s = fake::state();
    auto found = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == s.handles.end()) {
        fake::log_call("CloseHandle", "bogus");
        s.violations.push_back("CloseHandle on a bogus handle");
        return;
    }
    const std::string name = std::to_string(found->second.pid);
    fake::log_call("CloseHandle", name);
    if (!found->second.open) {
        s.violations.push_back("CloseHandle twice on the handle of " + name);
        return;
    }
    if (found->second.processes != &processes) {
        s.violations.push_back("CloseHandle on the handle of " + name +
                               " through another Processes than it was opened through");
    }
    found->second.open = false;
    --s.open_handles;
}

// GetCurrentProcess, then GetProcessTimes on its pseudo-handle.
bool own_cpu_times(FileTime& kernel, FileTime& user) {
    fake::log_call("GetCurrentProcess", "");
    FileTime creation;
    return fake::scripted_times(&fake::state().self, "self", creation, kernel, user);
}

// GetCurrentProcess, then GetProcessMemoryInfo on its pseudo-handle.
bool own_memory(MemoryCounters& counters) {
    fake::log_call("GetCurrentProcess", "");
    return fake::scripted_memory(&fake::state().self, "self", counters);
}

// Linux's reading of one process's command line, scripted per process.
CommandLine command_line(Processes& processes, Handle handle) {
    auto resolved = fake::resolve(processes, handle, "CommandLine");
    fake::log_call("CommandLine", resolved.name);
    fake::Scripted* scripted = resolved.process;
    if (scripted == nullptr) return CommandLine{CommandLine::Read::gone, {}};
    const fake::Process& script = scripted->script;
    if (script.command_line_fails.fails_on(++scripted->calls.command_line)) {
        return CommandLine{script.command_line_failure, {}};
    }
    return CommandLine{CommandLine::Read::text, script.command_line};
}

}  // namespace platform
