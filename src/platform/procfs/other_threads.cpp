// The task directory of a process whose leader has stopped, in the order a probe asks: has
// the process ended (the exit-code query), then its memory (sample) or its executable
// (inspect), or its command line (the query), through the first live thread that shows them.

#include "platform/procfs/other_threads.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/procfs/proc_files.hpp"

namespace procfs {
namespace {

class TaskDirectory {
public:
    TaskDirectory(int directory, const char* name) {
        const int fd = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            error_ = errno;
            return;
        }
        stream_ = ::fdopendir(fd);
        if (stream_ == nullptr) {
            error_ = errno;
            ::close(fd);
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
    int error() const { return error_; }

    // The next thread's name followed by `file` ("1234/stat"), or false at the end.
    bool next(const char* file, std::string& name) {
        while (const dirent* entry = ::readdir(stream_)) {
            if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
                name.assign(entry->d_name).append(file);
                return true;
            }
        }
        return false;
    }
    int fd() const { return ::dirfd(stream_); }

private:
    DIR* stream_ = nullptr;
    int error_ = 0;
};

}  // namespace

bool process_has_ended(int directory, const char* task_path, const StatFields& leader) {
    if (has_exited(leader)) {
        return true;
    }
    if (!task_stopped(leader)) {
        return false;
    }
    TaskDirectory tasks{directory, task_path};
    if (tasks.get() == nullptr) {
        return means_gone(tasks.error());
    }
    std::string name;
    while (tasks.next("/stat", name)) {
        const auto file = read_line_file_at(tasks.fd(), name.c_str());
        if (means_gone(file.error)) {
            continue;  // that thread is gone
        }
        const auto fields = file.error == 0 ? parse_stat(file.text) : std::nullopt;
        if (!fields || !task_stopped(*fields)) {
            return false;
        }
    }
    return true;
}

std::optional<StatusFields> memory_of_a_live_thread(int directory) {
    TaskDirectory tasks{directory, "task"};
    if (tasks.get() == nullptr) {
        return std::nullopt;
    }
    std::string name;
    while (tasks.next("/status", name)) {
        const auto file = read_file_at(tasks.fd(), name.c_str());
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

bool image_name_of_a_live_thread(int directory, char16_t* buffer, std::uint32_t& size) {
    TaskDirectory tasks{directory, "task"};
    if (tasks.get() == nullptr) {
        return false;
    }
    std::string name;
    while (tasks.next("/exe", name)) {
        if (read_image_name(tasks.fd(), name.c_str(), buffer, size)) {
            return true;
        }
    }
    return false;
}

FileText cmdline_of_a_live_thread(int directory, const char* task_path, std::uint32_t leader) {
    TaskDirectory tasks{directory, task_path};
    if (tasks.get() == nullptr) {
        return {{}, tasks.error()};
    }
    const std::string leader_name = std::to_string(leader) + "/cmdline";
    std::string name;
    while (tasks.next("/cmdline", name)) {
        if (name == leader_name) {
            continue;
        }
        const FileText found = read_file_at(tasks.fd(), name.c_str());
        if (found.error == 0 && !found.text.empty()) {
            return found;
        }
    }
    return {};
}

}  // namespace procfs
