// The standard streams. Output and error are written with WriteFile so that every byte goes
// out as it is (no text-mode "\r\n") and every failure is seen: C stdio can report success
// where the handle refuses the bytes, as Wine's /dev/full does with error 112. Input is read
// with ReadFile, byte for byte, for the same reasons.

#include "platform/platform.hpp"
#include "platform/win32/windows_api.hpp"
#include "text/utf.hpp"

namespace platform {
namespace {

std::string error_text(DWORD code) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string result;
    if (length != 0 && message != nullptr) {
        // The wide form keeps the text valid UTF-8 whatever the ANSI code page is.
        result = text::utf16_to_utf8(
            std::u16string_view(reinterpret_cast<const char16_t*>(message), length));
    }
    if (message != nullptr) {
        LocalFree(message);
    }
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
        result.pop_back();
    }
    if (result.empty()) {
        result = "Windows error " + std::to_string(code);
    }
    return result;
}

}  // namespace

std::optional<std::string> write(Stream stream, std::string_view bytes) {
    HANDLE handle = GetStdHandle(stream == Stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        // No standard handle at all: the parent gave none, or gave an invalid one. The last
        // error says nothing here (GetStdHandle only returned what it was given).
        return error_text(ERROR_INVALID_HANDLE);
    }
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u
                                                       : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr)) {
            return error_text(GetLastError());
        }
        if (written == 0) {
            // A handle that takes nothing and reports no error would loop for ever.
            return error_text(ERROR_WRITE_FAULT);
        }
        bytes.remove_prefix(written);
    }
    return std::nullopt;
}

namespace {

// A read of no bytes from a pipe whose writer is still there is a write of no bytes, and more
// may follow; the end of a pipe is ERROR_BROKEN_PIPE. A pipe that cannot be asked (Wine's
// stand-in for a Unix pipe, which reads no bytes at its end) is at its end. For a console
// (Ctrl+Z at the start of a line) and a file, no bytes is the end.
bool more_may_follow(HANDLE handle) {
    static const bool pipe = GetFileType(handle) == FILE_TYPE_PIPE;
    DWORD available = 0;
    return pipe && PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr);
}

}  // namespace

std::optional<std::string> read_input(char* buffer, std::size_t room, std::size_t& got) {
    got = 0;
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    // Started without standard input: nothing will ever come, as from a closed descriptor.
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const DWORD chunk = room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(handle, buffer, chunk, &read, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return std::nullopt;
            return error_text(error);
        }
        if (read == 0 && more_may_follow(handle)) continue;
        got = read;
        return std::nullopt;
    }
}

// The Windows backend keeps nothing of processes between requests, so a session there has
// nothing to do while it waits: it waits in ReadFile.
bool wait_for_input(std::uint32_t) { return true; }

}  // namespace platform
