#include "platform/procfs/thread_memory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/procfs/proc_file.hpp"

namespace procfs {
namespace {

class TaskDirectory {
public:
    explicit TaskDirectory(int directory) {
        const int fd = ::openat(directory, "task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            stream_ = ::fdopendir(fd);
            if (stream_ == nullptr) {
                ::close(fd);
            }
        }
    }
    TaskDirectory(const TaskDirectory&) = delete;
    TaskDirectory& operator=(const TaskDirectory&) = delete;
    ~TaskDirectory() {
        if (stream_ != nullptr) {
            ::closedir(stream_);
        }
    }
    DIR* get() const { return stream_; }

private:
    DIR* stream_ = nullptr;
};

}  // namespace

std::optional<StatusFields> memory_of_a_live_thread(int directory) {
    const TaskDirectory tasks{directory};
    if (tasks.get() == nullptr) {
        return std::nullopt;
    }
    while (const dirent* entry = ::readdir(tasks.get())) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        const std::string name = std::string{"task/"} + entry->d_name + "/status";
        const auto file = read_file_at(directory, name.c_str());
        if (file.error != 0) {
            continue;
        }
        const auto status = parse_status(file.text);
        if (status.resident_bytes != 0) {
            return status;
        }
    }
    return std::nullopt;
}

}  // namespace procfs
