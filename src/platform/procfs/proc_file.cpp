#include "platform/procfs/proc_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <string>
#include <unistd.h>

namespace procfs {
namespace {

// Grown on demand and reused, so a run allocates it once. Most files fit in the first size.
std::string shared_buffer;
constexpr std::size_t first_size = 4096;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }

private:
    int fd_;
};

enum class Until { end_of_file, end_of_line };

FileText read_whole(int directory, const char* name, Until until) {
    const Descriptor file{::openat(directory, name, O_RDONLY | O_CLOEXEC)};
    if (file.get() < 0) {
        return {{}, errno};
    }
    if (shared_buffer.size() < first_size) {
        shared_buffer.resize(first_size);
    }
    std::size_t length = 0;
    for (;;) {
        if (length == shared_buffer.size()) {
            shared_buffer.resize(shared_buffer.size() * 2);
        }
        const auto room = shared_buffer.size() - length;
        const auto got = ::read(file.get(), shared_buffer.data() + length, room);
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
                                (until == Until::end_of_file || shared_buffer[length - 1] == '\n');
        if (got == 0 || short_read) {
            return {std::string_view{shared_buffer.data(), length}, 0};
        }
    }
}

}  // namespace

FileText read_file_at(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_file);
}

FileText read_line_file_at(int directory, const char* name) {
    return read_whole(directory, name, Until::end_of_line);
}

void release_long_file() {
    if (shared_buffer.size() > first_size) std::string{}.swap(shared_buffer);
}

bool means_gone(int error) {
    return error == ENOENT || error == ESRCH;
}

bool proc_is_procfs() {
    static const bool answer = [] {
        struct statfs facts{};
        // If even that fails, /proc cannot be trusted to say that a process is missing.
        return ::statfs("/proc", &facts) == 0 && facts.f_type == PROC_SUPER_MAGIC;
    }();
    return answer;
}

}  // namespace procfs
