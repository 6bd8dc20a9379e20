// Reading /proc, in the order opening a process meets it: whether /proc can be trusted at all,
// the signal check that tells a process from a thread before anything is read, whole files
// through one shared buffer, what a failed read means, the executable's link, the memory a task
// runs in, and last the buffer let go of after a long command line.

#include "platform/procfs/proc_files.hpp"

#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <fcntl.h>
#include <linux/magic.h>
#include <string>
#include <string_view>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/procfs/descriptor.hpp"
#include "text/utf.hpp"

namespace procfs {

bool proc_is_procfs() {
    static const bool answer = [] {
        struct statfs facts{};
        // If even that fails, /proc cannot be trusted to say that a process is missing.
        return ::statfs("/proc", &facts) == 0 && facts.f_type == PROC_SUPER_MAGIC;
    }();
    return answer;
}

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

// tgkill counts PIDs in the tool's own PID namespace, /proc in the namespace it was mounted
// from (a new namespace may still see the host's /proc). They agree when /proc/self names the
// tool's own PID. And the call must answer for the tool itself, or a sandbox refuses it (and
// its "not permitted" says nothing of another process). Looked at once per run.
bool signal_checks_answer_as_proc_would() {
    static const bool usable = [] {
        char link[32];
        const auto length = ::readlink("/proc/self", link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof link) return false;
        const int self = ::getpid();
        if (std::string_view{link, static_cast<std::size_t>(length)} != std::to_string(self)) {
            return false;
        }
        return signal_check(self) == 0;
    }();
    return usable;
}

}  // namespace

Leadership leadership_by_signal_check(platform::Pid pid) {
    if (!signal_checks_answer_as_proc_would()) return Leadership::unknown;
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

// Grown on demand and reused, so a run allocates it once. Most files fit in the first size.
std::string shared_buffer;
// For a stat read while the text in the shared buffer is still in use.
std::string aside_buffer;
constexpr std::size_t first_size = 4096;

enum class Until { end_of_file, end_of_line };

// The text that `read_at(into, room, offset)` gives (a read's result: bytes, 0 at the end, or
// -1 with errno), into `buffer`, up to its end.
template <typename ReadAt>
FileText read_text(Until until, std::string& buffer, ReadAt read_at) {
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
                                (until == Until::end_of_file || buffer[length - 1] == '\n');
        if (got == 0 || short_read) {
            return {std::string_view{buffer.data(), length}, 0};
        }
    }
}

FileText read_whole(int directory, const char* name, Until until, std::string& buffer) {
    int fd = ::openat(directory, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0 && relieved(errno)) fd = ::openat(directory, name, O_RDONLY | O_CLOEXEC);
    const Descriptor file{fd};
    if (file.get() < 0) {
        return {{}, errno};
    }
    return read_text(until, buffer, [&](char* into, std::size_t room, std::size_t /*offset*/) {
        return ::read(file.get(), into, room);
    });
}

// From the start of the file, whatever was read of it before: a /proc file of one process is
// made anew by a read at offset 0.
FileText reread_whole(int file, Until until) {
    return read_text(until, shared_buffer, [&](char* into, std::size_t room, std::size_t offset) {
        return ::pread(file, into, room, static_cast<off_t>(offset));
    });
}

}  // namespace

FileText read_file_at(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_file, shared_buffer);
}

FileText read_line_file_at(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_line, shared_buffer);
}

FileText read_line_file_aside(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_line, aside_buffer);
}

FileText reread_file(int file) {
    return reread_whole(file, Until::end_of_file);
}

FileText reread_line_file(int file) {
    return reread_whole(file, Until::end_of_line);
}

namespace {

bool (*shortage_relief)() = nullptr;

}  // namespace

void set_shortage_relief(bool (*relief)()) {
    shortage_relief = relief;
}

bool relieved(int error) {
    return means_shortage(error) && shortage_relief != nullptr && shortage_relief();
}

bool means_gone(int error) {
    return error == ENOENT || error == ESRCH;
}

bool means_shortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

bool read_image_name(int directory, const char* link, char16_t* buffer, std::uint32_t& size) {
    // The kernel writes the path into one page; anything that fills this buffer was cut short.
    std::array<char, 8192> target;
    const auto length = ::readlinkat(directory, link, target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) == target.size()) {
        return false;
    }
    // Measured, then converted straight into the caller's buffer.
    const std::string_view path{target.data(), static_cast<std::size_t>(length)};
    const std::size_t units = text::utf16_length(path);
    if (units >= size) {
        return false;
    }
    text::utf8_to_utf16(path, buffer);
    buffer[units] = u'\0';
    size = static_cast<std::uint32_t>(units);
    return true;
}

int open_memory_witness(int directory, const char* pagemap) {
    return ::openat(directory, pagemap, O_RDONLY | O_CLOEXEC);
}

bool memory_lives(int witness) {
    // One entry of the page table, that of the first page: cheap, and there for every memory.
    std::uint64_t entry = 0;
    return ::pread(witness, &entry, sizeof entry, 0) == static_cast<ssize_t>(sizeof entry);
}

void release_long_file() {
    if (shared_buffer.size() > first_size) std::string{}.swap(shared_buffer);
}

}  // namespace procfs
