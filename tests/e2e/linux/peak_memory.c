/* Runs a program and reports its peak resident memory and processor times, as its parent reads
 * them: forks it, waits for it with wait4 and writes to the descriptor given first the largest
 * resident set it had in KiB, then its user and its system time in microseconds, on one line.
 * A program started straight from a test would count the test's own pages too (they are its
 * pages until exec), so tests start it from this small program. Exits with the program's status.
 *
 *   peak_memory DESCRIPTOR PROGRAM [ARGUMENT...]
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3)
        return 125;
    const int report = atoi(argv[1]);
    const pid_t child = fork();
    if (child < 0)
        return 126;
    if (child == 0) {
        close(report);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child)
        return 126;
    dprintf(report, "%ld %lld %lld\n", usage.ru_maxrss,
            (long long)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec,
            (long long)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec);
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
