#include "platform/procfs/own_process.hpp"

#include <fcntl.h>
#include <sys/resource.h>

#include "platform/procfs/proc_files.hpp"
#include "platform/procfs/proc_text.hpp"
#include "platform/procfs/system_clock_facts.hpp"

namespace procfs {
namespace {

// Only its address matters: it tells the tool's own process from every opened one.
char own_process_marker;

std::uint64_t timeval_units(const timeval& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * units_per_second +
           static_cast<std::uint64_t>(time.tv_usec) * 10;
}

}  // namespace

platform::Handle own_process_handle() {
    return &own_process_marker;
}

bool is_own_process(platform::Handle handle) {
    return handle == &own_process_marker;
}

bool own_process_cpu_times(platform::FileTime& kernel, platform::FileTime& user) {
    // getrusage counts in microseconds, far finer than the clock ticks of /proc/self/stat,
    // which matters for a run that lasts a few milliseconds; and it needs no /proc at all.
    rusage usage{};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) {
        return false;
    }
    kernel = to_file_time(timeval_units(usage.ru_stime));
    user = to_file_time(timeval_units(usage.ru_utime));
    return true;
}

bool own_process_times(platform::FileTime& creation, platform::FileTime& exit,
                       platform::FileTime& kernel, platform::FileTime& user) {
    const auto file = read_file_at(AT_FDCWD, "/proc/self/stat");
    if (file.error != 0) {
        return false;
    }
    const auto stat = parse_stat(file.text);
    const auto created = stat ? task_creation_units(stat->start_ticks) : std::nullopt;
    if (!created || !own_process_cpu_times(kernel, user)) {
        return false;
    }
    creation = to_file_time(*created);
    exit = platform::FileTime{};
    return true;
}

bool own_process_memory(platform::MemoryCounters& counters) {
    const auto file = read_file_at(AT_FDCWD, "/proc/self/status");
    if (file.error != 0) {
        return false;
    }
    const auto status = parse_status(file.text);
    counters.working_set = status.resident_bytes;
    counters.peak_working_set = status.peak_resident_bytes;
    return true;
}

}  // namespace procfs
