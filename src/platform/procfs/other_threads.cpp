// The threads of a process whose leader has stopped, in the order a search meets them: the
// thread found before, then the list of all of them, read one by one.

#include "platform/procfs/other_threads.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "platform/procfs/proc_files.hpp"
#include "text/decimal.hpp"

namespace procfs {

std::string thread_file(std::string_view task_path, platform::Pid tid, std::string_view file) {
    std::string path{task_path};
    path.push_back('/');
    path.append(std::to_string(tid));
    path.push_back('/');
    path.append(file);
    return path;
}

namespace {

// The thread IDs under the task directory, read to the end and the directory closed before
// any thread is read; the errno when it cannot be read.
int list_threads(int directory, const std::string& task_path, std::vector<platform::Pid>& tids) {
    const int fd = ::openat(directory, task_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR* const stream = ::fdopendir(fd);
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    while (const dirent* entry = ::readdir(stream)) {
        // "." and ".." are no thread.
        if (const auto tid = text::decimal_value<platform::Pid>(entry->d_name)) {
            tids.push_back(*tid);
        }
    }
    ::closedir(stream);
    return 0;
}

enum class ThreadState { running, stopped, shortage };

// One thread's stat: running, stopped (exiting, a zombie, or gone), or the tool ran short.
// A stat that cannot be read for another reason counts as running: nothing says otherwise.
ThreadState look_at_thread(Reader& reader, int directory, const std::string& path,
                           StatFields& stat, int& shortage) {
    const FileText file = reader.read_line_file_at(directory, path.c_str());
    if (means_gone(file.error)) return ThreadState::stopped;
    if (means_shortage(file.error)) {
        shortage = file.error;
        return ThreadState::shortage;
    }
    const auto fields = file.error == 0 ? parse_stat(file.text) : std::nullopt;
    stat = fields.value_or(StatFields{});
    return fields && task_stopped(*fields) ? ThreadState::stopped : ThreadState::running;
}

}  // namespace

LiveThread find_live_thread(Reader& reader, int directory, std::string_view task_path,
                            platform::Pid leader, const StatFields& leader_stat,
                            platform::Pid hint) {
    if (has_exited(leader_stat)) return {.ended = true};
    if (!task_stopped(leader_stat)) return {.tid = leader, .stat = leader_stat};

    LiveThread found;
    const auto ask = [&](platform::Pid tid) {
        const std::string path = thread_file(task_path, tid, "stat");
        const ThreadState state = look_at_thread(reader, directory, path, found.stat, found.shortage);
        if (state == ThreadState::running) found.tid = tid;
        return state != ThreadState::stopped;
    };
    if (hint != 0 && hint != leader && ask(hint)) return found;

    std::vector<platform::Pid> tids;
    const std::string tasks{task_path};
    if (const int error = list_threads(directory, tasks, tids); error != 0) {
        if (means_gone(error)) return {.ended = true};
        if (means_shortage(error)) return {.shortage = error};
        return {};  // runs, as far as anyone can tell, through no thread we can name
    }
    for (const platform::Pid tid : tids) {
        if (tid != leader && tid != hint && ask(tid)) return found;
    }
    return {.ended = true};
}

}  // namespace procfs
