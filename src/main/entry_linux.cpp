// The tool's entry point on Linux: what the whole process needs set up before the run.

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include "main/output.hpp"
#include "main/run.hpp"
#include "platform/procfs/startup_services.hpp"

namespace {

// A closed standard descriptor would be handed out by the first open of /proc, and the
// document could then land in a process directory. Hold each such slot with /dev/null opened
// read-only: writes to it still fail (EBADF), as they would on the closed descriptor.
void hold_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", O_RDONLY);
        }
    }
}

// Blocks of 128 KiB and more are mapped, and unmapped as soon as they are freed. glibc would
// otherwise raise that threshold to the size of each such block it frees, and from then on
// serve the run's long texts (a command line of megabytes, the rows, the document) from the
// heap, which keeps every block freed on the way: the peak would count memory long let go of.
void give_large_blocks_back_at_once() {
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

// A session keeps three descriptors for each process it reads: the more it may open, the more
// it keeps.
void raise_descriptor_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    app::end_cleanly_when_memory_runs_out();
    give_large_blocks_back_at_once();
    hold_closed_standard_descriptors();
    // A closed pipe must come back as EPIPE from write, not end the run by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    raise_descriptor_limit();
    procfs::remember_arguments(argc, argv);
    return app::run();
}
