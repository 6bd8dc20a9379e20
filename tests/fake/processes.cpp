// The fake platform's process calls, answered from the scripts in processes.hpp.

#include "fake/processes.hpp"

#include "fake/runtime.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace fake {
namespace {

// How often each call has reached one process, to pick the scripted answer of the n-th call.
struct CallCounts {
    unsigned open = 0;
    unsigned exit_code = 0;
    unsigned times = 0;
    unsigned memory = 0;
    unsigned image_name = 0;
    unsigned image_unchanged = 0;
};

struct Scripted {
    Process script;
    CallCounts calls;
};

struct HandleRecord {
    platform::Pid pid = 0;
    bool open = true;
};

constexpr std::uint32_t error_invalid_handle = 6;
constexpr std::uint32_t error_insufficient_buffer = 122;

// GetCurrentProcess's pseudo-handle, as on Windows.
const platform::Handle self_handle = reinterpret_cast<platform::Handle>(~std::uintptr_t{0});

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
    std::string name;
};

Resolved resolve(platform::Handle handle, std::string_view call) {
    State& s = state();
    if (handle == self_handle) return {&s.self, "self"};
    auto found = s.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == s.handles.end()) {
        s.violations.push_back(std::string(call) + " through a bogus handle");
        return {nullptr, "bogus"};
    }
    std::string name = std::to_string(found->second.pid);
    if (!found->second.open) {
        s.violations.push_back(std::string(call) + " through closed handle of " + name);
        return {nullptr, name};
    }
    // A handle stays usable after its process lost its script only if the script is still
    // there; tests never drop scripts while handles are open, so this is always found.
    return {&s.processes[found->second.pid], name};
}

void log_call(std::string_view call, const std::string& argument) {
    state().log.push_back(std::string(call) + "(" + argument + ")");
}

bool fail(std::uint32_t error) {
    state().last_error = error;
    return false;
}

}  // namespace

void reset_processes() { state() = State{}; }

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

namespace {

// GetProcessTimes as both process_times and process_cpu_times answer it.
bool scripted_times(platform::Handle handle, platform::FileTime& creation,
                    platform::FileTime& exit, platform::FileTime& kernel,
                    platform::FileTime& user) {
    auto [scripted, name] = resolve(handle, "GetProcessTimes");
    log_call("GetProcessTimes", name);
    if (scripted == nullptr) return fail(error_invalid_handle);
    const unsigned call = ++scripted->calls.times;
    const Process& script = scripted->script;
    if (script.times_fail.fails_on(call)) return fail(failed_call_error);
    creation = to_filetime(nth(script.creation_ticks, call, std::uint64_t{0}));
    exit = to_filetime(script.exit_ticks);
    kernel = to_filetime(script.kernel_ticks);
    user = to_filetime(script.user_ticks);
    return true;
}

}  // namespace
}  // namespace fake

namespace platform {

Handle open_process(std::uint32_t access, bool inherit, Pid pid) {
    fake::State& s = fake::state();
    fake::log_call("OpenProcess", std::to_string(access) + "," + (inherit ? "1" : "0") + "," +
                                      std::to_string(pid));
    auto found = s.processes.find(pid);
    if (found == s.processes.end()) {
        fake::fail(error_invalid_parameter);
        return nullptr;
    }
    fake::Scripted& scripted = found->second;
    fake::advance_clock(scripted.script.open_takes_nanos);
    if (scripted.script.open_fails.fails_on(++scripted.calls.open)) {
        fake::fail(scripted.script.open_error);
        return nullptr;
    }
    const std::uintptr_t value = s.next_handle;
    s.next_handle += 4;
    s.handles.emplace(value, fake::HandleRecord{pid, true});
    ++s.open_handles;
    return reinterpret_cast<Handle>(value);
}

std::uint32_t last_error() {
    fake::log_call("GetLastError", "");
    return fake::state().last_error;
}

bool exit_code_process(Handle handle, std::uint32_t& exit_code) {
    auto [scripted, name] = fake::resolve(handle, "GetExitCodeProcess");
    fake::log_call("GetExitCodeProcess", name);
    if (scripted == nullptr) return fake::fail(fake::error_invalid_handle);
    const unsigned call = ++scripted->calls.exit_code;
    if (scripted->script.exit_code_fails.fails_on(call)) return fake::fail(fake::failed_call_error);
    exit_code = fake::nth(scripted->script.exit_codes, call, still_active);
    return true;
}

bool process_times(Handle handle, FileTime& creation, FileTime& exit, FileTime& kernel,
                   FileTime& user) {
    ++fake::state().creation_times_asked;
    return fake::scripted_times(handle, creation, exit, kernel, user);
}

// The same call as on Windows, scripted and logged as GetProcessTimes.
bool process_cpu_times(Handle handle, FileTime& kernel, FileTime& user) {
    FileTime creation, exit;
    return fake::scripted_times(handle, creation, exit, kernel, user);
}

bool process_memory_info(Handle handle, MemoryCounters& counters) {
    auto [scripted, name] = fake::resolve(handle, "GetProcessMemoryInfo");
    fake::log_call("GetProcessMemoryInfo", name);
    if (scripted == nullptr) return fake::fail(fake::error_invalid_handle);
    const fake::Process& script = scripted->script;
    if (script.memory_fails.fails_on(++scripted->calls.memory)) {
        return fake::fail(fake::failed_call_error);
    }
    counters.working_set = script.working_set;
    counters.peak_working_set = script.peak_working_set;
    return true;
}

bool full_process_image_name(Handle handle, std::uint32_t flags, char16_t* buffer,
                             std::uint32_t& size) {
    auto [scripted, name] = fake::resolve(handle, "QueryFullProcessImageNameW");
    fake::log_call("QueryFullProcessImageNameW",
                   name + "," + std::to_string(flags) + "," + std::to_string(size));
    if (scripted == nullptr) return fake::fail(fake::error_invalid_handle);
    const fake::Process& script = scripted->script;
    if (script.image_name_fails.fails_on(++scripted->calls.image_name)) {
        return fake::fail(fake::failed_call_error);
    }
    const std::u16string& image = script.image_name;
    if (image.size() >= size) return fake::fail(fake::error_insufficient_buffer);
    std::memcpy(buffer, image.data(), image.size() * sizeof(char16_t));
    buffer[image.size()] = u'\0';
    size = static_cast<std::uint32_t>(image.size());
    return true;
}

bool image_unchanged(Handle handle) {
    auto [scripted, name] = fake::resolve(handle, "ImageUnchanged");
    fake::log_call("ImageUnchanged", name);
    if (scripted == nullptr) return true;
    return !scripted->script.image_replaced.fails_on(++scripted->calls.image_unchanged);
}

void close_handle(Handle handle) {
    fake::State& s = fake::state();
    if (handle == fake::self_handle) {
        fake::log_call("CloseHandle", "self");
        s.violations.push_back("CloseHandle on the own process's pseudo-handle");
        return;
    }
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
    found->second.open = false;
    --s.open_handles;
}

// The fake opens nothing it could keep: the call is only logged.
void keep_processes_between_requests() {
    fake::log_call("KeepProcessesBetweenRequests", "");
}

Handle current_process() {
    fake::log_call("GetCurrentProcess", "");
    return fake::self_handle;
}

}  // namespace platform
