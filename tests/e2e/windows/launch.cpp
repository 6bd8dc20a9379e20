#include "launch.hpp"

#include <cwchar>
#include <cwctype>
#include <string>
#include <utility>

namespace e2e {
namespace {

// A temporary file for one captured stream; inheritable, gone when closed.
OwnedHandle capture_file() {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"zul", 0, name);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return OwnedHandle(CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   &inheritable, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                   nullptr));
}

std::string read_back(HANDLE file) {
    std::string bytes;
    if (file == nullptr || file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

OwnedHandle null_input() {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return OwnedHandle(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr));
}

bool same_name(const std::wstring& entry, const std::wstring& assignment) {
    const auto name_end = assignment.find(L'=', 1);
    if (name_end == std::wstring::npos || entry.size() <= name_end || entry[name_end] != L'=') {
        return false;
    }
    for (std::size_t index = 0; index < name_end; ++index) {
        if (std::towupper(entry[index]) != std::towupper(assignment[index])) {
            return false;
        }
    }
    return true;
}

// The test's environment with the additions, as a block for CreateProcessW.
std::wstring environment_block(const std::vector<std::wstring>& additions) {
    std::vector<std::wstring> entries;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            entries.emplace_back(entry);
        }
        FreeEnvironmentStringsW(strings);
    }
    for (const auto& addition : additions) {
        std::erase_if(entries, [&](const std::wstring& entry) { return same_name(entry, addition); });
        entries.push_back(addition);
    }
    std::wstring block;
    for (const auto& entry : entries) {
        block += entry;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

}  // namespace

OwnedHandle& OwnedHandle::operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
        OwnedHandle gone(release());
        handle_ = other.release();
    }
    return *this;
}

OwnedHandle::~OwnedHandle() {
    if (*this) {
        CloseHandle(handle_);
    }
}

HANDLE OwnedHandle::release() { return std::exchange(handle_, nullptr); }

std::wstring windows_path(const std::string& path) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                          nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), units);
    if (wide.empty() || wide.front() != L'/') {
        return wide;
    }
    for (auto& unit : wide) {
        if (unit == L'/') {
            unit = L'\\';
        }
    }
    return L"Z:" + wide;
}

namespace {

// A program built with the tests: where CMake built it or, when the test programs were copied
// to another machine (a Windows runner), the file of that name beside the test program.
std::wstring built_program(const char* built_path) {
    const std::wstring path = windows_path(built_path);
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return path;
    }
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return self.substr(0, self.find_last_of(L"\\/") + 1) +
           path.substr(path.find_last_of(L"\\/") + 1);
}

}  // namespace

std::wstring tool_path() {
    // ZUL_TEST_TOOL names another copy of the tool to test, such as the one in a package.
    std::wstring chosen(32768, L'\0');
    chosen.resize(GetEnvironmentVariableW(L"ZUL_TEST_TOOL", chosen.data(),
                                          static_cast<DWORD>(chosen.size())));
    if (!chosen.empty() && chosen.size() < 32768) {
        return windows_path(narrow(chosen));
    }
    return built_program(ZUL_TOOL_PATH);
}

std::wstring probe_target_path() { return built_program(ZUL_PROBE_TARGET_PATH); }

std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t unit : argument) {
        if (unit == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only before a quote.
        result.append(unit == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        result.push_back(unit);
    }
    result.append(backslashes * 2, L'\\');
    result.push_back(L'"');
    return result;
}

std::wstring command_line(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = quoted(program);
    for (const auto& argument : arguments) {
        line += L' ';
        line += quoted(argument);
    }
    return line;
}

ToolRun run_tool(const std::vector<std::wstring>& arguments, const ToolOptions& options) {
    const std::wstring program = options.program.empty() ? tool_path() : options.program;
    return run_command_line(program, command_line(program, arguments), options);
}

ToolRun run_command_line(const std::wstring& program, std::wstring line,
                         const ToolOptions& options) {
    ToolRun run;
    OwnedHandle input = null_input();
    OwnedHandle out = capture_file();
    OwnedHandle err = capture_file();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = options.stdout_handle != nullptr ? options.stdout_handle : out.get();
    startup.hStdError = options.stderr_handle != nullptr ? options.stderr_handle : err.get();

    std::wstring environment = environment_block(options.environment);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                        &started)) {
        run.exit_code = 0xFFFFFFFFu;
        run.err = "CreateProcessW failed with " + std::to_string(GetLastError());
        return run;
    }
    OwnedHandle process(started.hProcess);
    OwnedHandle thread(started.hThread);
    run.pid = started.dwProcessId;
    if (WaitForSingleObject(process.get(), hang_guard_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), hang_guard_ms);
        run.exit_code = 0xFFFFFFFEu;
        run.err = "timed out";
        return run;
    }
    GetExitCodeProcess(process.get(), &run.exit_code);
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) {
        run.created_at =
            (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    }
    run.out = read_back(out.get());
    run.err = read_back(err.get());
    return run;
}

ToolSession::ToolSession(const ToolOptions& options) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE input_read = nullptr;
    HANDLE input_write = nullptr;
    HANDLE output_read = nullptr;
    HANDLE output_write = nullptr;
    if (!CreatePipe(&input_read, &input_write, &inheritable, 0)) return;
    OwnedHandle child_input(input_read);
    input_ = OwnedHandle(input_write);
    if (!CreatePipe(&output_read, &output_write, &inheritable, 0)) return;
    OwnedHandle child_output(output_write);
    output_ = OwnedHandle(output_read);
    // The test's own ends stay with the test, so the session sees the end of its input.
    SetHandleInformation(input_.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_.get(), HANDLE_FLAG_INHERIT, 0);
    errors_ = capture_file();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_input.get();
    startup.hStdOutput =
        options.stdout_handle != nullptr ? options.stdout_handle : child_output.get();
    startup.hStdError = options.stderr_handle != nullptr ? options.stderr_handle : errors_.get();

    const std::wstring program = tool_path();
    std::wstring line = command_line(program, {L"serve"});
    std::wstring environment = environment_block(options.environment);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                        &started)) {
        return;
    }
    process_ = OwnedHandle(started.hProcess);
    OwnedHandle thread(started.hThread);
    pid_ = started.dwProcessId;
}

ToolSession::~ToolSession() {
    // With both ends gone the session meets the end of its input, or fails to write, and ends.
    input_ = OwnedHandle();
    output_ = OwnedHandle();
    if (process_ && WaitForSingleObject(process_.get(), hang_guard_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process_.get(), 0xDEAD);
        WaitForSingleObject(process_.get(), hang_guard_ms);
    }
}

bool ToolSession::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(input_.get(), bytes.data() + sent, static_cast<DWORD>(bytes.size() - sent),
                       &written, nullptr)) {
            return false;
        }
        sent += written;
    }
    return true;
}

std::string ToolSession::answer() {
    const ULONGLONG deadline = GetTickCount64() + hang_guard_ms;
    for (;;) {
        const auto feed = pending_.find('\n');
        if (feed != std::string::npos) {
            std::string line = pending_.substr(0, feed + 1);
            pending_.erase(0, feed + 1);
            return line;
        }
        // An anonymous pipe's read cannot time out: it is asked first how much it holds.
        DWORD available = 0;
        if (!PeekNamedPipe(output_.get(), nullptr, 0, nullptr, &available, nullptr) ||
            GetTickCount64() > deadline) {
            return std::exchange(pending_, {});
        }
        if (available == 0) {
            Sleep(1);
            continue;
        }
        char chunk[65536];
        DWORD got = 0;
        if (!ReadFile(output_.get(), chunk, available < sizeof(chunk) ? available : sizeof(chunk),
                      &got, nullptr)) {
            return std::exchange(pending_, {});
        }
        pending_.append(chunk, got);
    }
}

ToolRun ToolSession::finish() {
    ToolRun run;
    run.pid = pid_;
    input_ = OwnedHandle();
    for (std::string rest; !(rest = answer()).empty();) run.out += rest;
    if (!process_ || WaitForSingleObject(process_.get(), hang_guard_ms) != WAIT_OBJECT_0) {
        run.exit_code = 0xFFFFFFFEu;
        run.err = "did not end";
        return run;
    }
    GetExitCodeProcess(process_.get(), &run.exit_code);
    run.err = read_back(errors_.get());
    return run;
}

Child::~Child() {
    if (process_) {
        TerminateProcess(process_.get(), 0);
        WaitForSingleObject(process_.get(), hang_guard_ms);
    }
}

bool Child::wait_for_end() const {
    return WaitForSingleObject(process_.get(), hang_guard_ms) == WAIT_OBJECT_0;
}

std::optional<Child> start_probe_target(const std::vector<std::wstring>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
        return std::nullopt;
    }
    OwnedHandle reader(read_end);
    OwnedHandle writer(write_end);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    OwnedHandle input = null_input();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();

    const std::wstring program = probe_target_path();
    std::wstring line = command_line(program, arguments);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
        return std::nullopt;
    }
    OwnedHandle thread(started.hThread);
    Child child(OwnedHandle(started.hProcess), started.dwProcessId);
    // Only the child holds the write end now, so its end is our end-of-file.
    writer = OwnedHandle();

    if (arguments.empty() || arguments.front() == L"exit") {
        return child;
    }
    std::string said;
    char buffer[64];
    DWORD got = 0;
    while (said.find('\n') == std::string::npos &&
           ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        said.append(buffer, got);
    }
    if (said.rfind("ready\n", 0) != 0) {
        return std::nullopt;
    }
    return child;
}

bool under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool denied_to_us(const Child& child) {
    OwnedHandle opened{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.pid())};
    return !opened && GetLastError() == ERROR_ACCESS_DENIED;
}

std::string narrow(const std::wstring& text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        bytes, nullptr, nullptr);
    return result;
}

}  // namespace e2e
