// Reading /proc, in the order opening a process meets it: whether /proc can be trusted at all,
// the signal check that tells a process from a thread before anything is read, whole files
// through a reader's buffers, what a failed read means, the executable's link, the memory a task
// runs in, and last the buffer let go of after a long command line.

#include "platform/procfs/proc_files.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/procfs/descriptor.hpp"
#include "text/utf.hpp"

namespace procfs {

namespace {

// tgkill(pid, pid, 0): 0 or -1 with errno.
long signal_check(int pid) {
#ifdef SYS_tgkill
    return ::syscall(SYS_tgkill, pid, pid, 0);
#else
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

bool signal_checks_answer_as_proc_would() {
    char link[32];
    const auto length = ::readlink("/proc/self", link, sizeof link);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof link) return false;
    const int self = ::getpid();
    if (std::string_view{link, static_cast<std::size_t>(length)} != std::to_string(self)) {
        return false;
    }
    return signal_check(self) == 0;
}

Leadership leadership_by_signal_check(platform::Pid pid) {
    // Beyond int the call would name another ID, or every process (-1).
    if (pid == 0 || pid > static_cast<platform::Pid>(INT_MAX)) return Leadership::not_leader;
    if (signal_check(static_cast<int>(pid)) == 0) return Leadership::leader;
    // The kernel finds the task and checks that it leads its group before it asks whether we
    // may signal it: "not permitted" is another user's process.
    if (errno == EPERM) return Leadership::leader;
    if (errno == ESRCH) return Leadership::not_leader;
    return Leadership::unknown;
}

namespace {

constexpr std::size_t first_size = 4096;

// The text that `read_at(into, room, offset)` gives (a read's result: bytes, 0 at the end, or
// -1 with errno), into `buffer`, up to its end.
template <typename ReadAt>
FileText read_text(bool until_end_of_line, std::string& buffer, ReadAt read_at) {
    if (buffer.size() < first_size) {
        buffer.resize(first_size);
    }
    std::size_t length = 0;
    for (;;) {
        if (length == buffer.size()) {
            buffer.resize(buffer.size() * 2);
        }
        const auto room = buffer.size() - length;
        const auto got = read_at(buffer.data() + length, room, length);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {{}, errno};
        }
        length += static_cast<std::size_t>(got);
        // The kernel makes these files whole at the first read (a seq_file shown at once;
        // cmdline copied out of the process's memory in one call): a read that gives less than
        // it was asked has reached the end, and a further read would only return 0.
        const bool short_read = got > 0 && static_cast<std::size_t>(got) < room &&
                                (!until_end_of_line || buffer[length - 1] == '\n');
        if (got == 0 || short_read) {
            return {std::string_view{buffer.data(), length}, 0};
        }
    }
}

}  // namespace

FileText Reader::read_whole(int directory, const char* name, Until until, std::string& buffer) {
    int fd = ::openat(directory, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0 && relieved(errno)) fd = ::openat(directory, name, O_RDONLY | O_CLOEXEC);
    const Descriptor file{fd};
    if (file.get() < 0) {
        return {{}, errno};
    }
    return read_text(until == Until::end_of_line, buffer,
                     [&](char* into, std::size_t room, std::size_t /*offset*/) {
                         return ::read(file.get(), into, room);
                     });
}

// From the start of the file, whatever was read of it before: a /proc file of one process is
// made anew by a read at offset 0.
FileText Reader::reread_whole(int file, Until until) {
    return read_text(until == Until::end_of_line, buffer_,
                     [&](char* into, std::size_t room, std::size_t offset) {
                         return ::pread(file, into, room, static_cast<off_t>(offset));
                     });
}

FileText Reader::read_file_at(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_file, buffer_);
}

FileText Reader::read_line_file_at(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_line, buffer_);
}

FileText Reader::read_line_file_aside(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_line, aside_);
}

FileText Reader::reread_file(int file) {
    return reread_whole(file, Until::end_of_file);
}

FileText Reader::reread_line_file(int file) {
    return reread_whole(file, Until::end_of_line);
}

void Reader::set_shortage_relief(bool (*relief)(void* context), void* context) {
    relief_ = relief;
    relief_context_ = context;
}

bool Reader::relieved(int error) {
    return means_shortage(error) && relief_ != nullptr && relief_(relief_context_);
}

void Reader::release_long_file() {
    if (buffer_.size() > first_size) std::string{}.swap(buffer_);
}

bool means_gone(int error) {
    return error == ENOENT || error == ESRCH;
}

bool means_shortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

std::optional<std::string> read_executable_path(int directory, const char* link) {
    // The kernel writes the path into one page; anything that fills this buffer was cut short.
    std::array<char, 8192> target;
    const auto length = ::readlinkat(directory, link, target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
        return std::nullopt;
    }
    const std::string_view path{target.data(), static_cast<std::size_t>(length)};
    // The longest path Windows gives (32,767 UTF-16 units): the tool answers alike on both.
    if (text::utf16_length(path) >= longest_path_units) {
        errno = ENAMETOOLONG;
        return std::nullopt;
    }
    return text::sanitize_utf8(path);
}

std::optional<FileIdentity> executable_identity(int directory, const char* link) {
    struct stat facts{};
    if (::fstatat(directory, link, &facts, 0) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(facts.st_dev),
                        static_cast<std::uint64_t>(facts.st_ino)};
}

int open_memory_witness(int directory, const char* pagemap) {
    return ::openat(directory, pagemap, O_RDONLY | O_CLOEXEC);
}

bool memory_lives(int witness) {
    // One entry of the page table, that of the first page: cheap, and there for every memory.
    std::uint64_t entry = 0;
    return ::pread(witness, &entry, sizeof entry, 0) == static_cast<ssize_t>(sizeof entry);
}

}  // namespace procfs
