/* The least a session could do to answer lines of "sample PID...", for the session's processor
 * time to be compared with: the stat and status files of each process opened at its first
 * request and kept, then read again from their start (pread) at every request, and one short
 * line written per request. No parsing of what was read, no checks, nothing ever closed.
 *
 *   floor_session < requests
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define SLOTS 8192 /* a power of two, over twice the processes of one benchmark */

static struct {
    long pid;
    int stat, status;
} kept[SLOTS];

static int open_file(long pid, const char *name)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/%s", pid, name);
    return open(path, O_RDONLY | O_CLOEXEC);
}

int main(void)
{
    char *line = NULL;
    size_t room = 0;
    static char text[8192];
    while (getline(&line, &room, stdin) > 0) {
        size_t bytes = 0;
        char *word = strtok(line, " \t\n");
        for (word = strtok(NULL, " \t\n"); word; word = strtok(NULL, " \t\n")) {
            const long pid = atol(word);
            size_t slot = (size_t)pid * 2654435761u & (SLOTS - 1);
            while (kept[slot].pid != 0 && kept[slot].pid != pid)
                slot = (slot + 1) & (SLOTS - 1);
            if (kept[slot].pid == 0) {
                kept[slot].pid = pid;
                kept[slot].stat = open_file(pid, "stat");
                kept[slot].status = open_file(pid, "status");
            }
            const ssize_t a = pread(kept[slot].stat, text, sizeof text, 0);
            const ssize_t b = pread(kept[slot].status, text, sizeof text, 0);
            bytes += (size_t)(a > 0 ? a : 0) + (size_t)(b > 0 ? b : 0);
        }
        char answer[32];
        const int length = snprintf(answer, sizeof answer, "%zu\n", bytes);
        if (write(1, answer, (size_t)length) != length)
            return 1;
    }
    return 0;
}
