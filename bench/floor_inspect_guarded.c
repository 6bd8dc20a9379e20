/* The guarded floor for `inspect`: the system calls the tool makes on Linux, in the same order,
 * and nothing else. Three passes, as the tool's:
 *   1. for each process ID: open the /proc/<pid> directory and keep it, check with tgkill that
 *      the PID leads its thread group, read stat (the start time; /proc/stat once, for the boot
 *      time) and the exe link through it;
 *   2. for each process found, in ascending PID order: read cmdline through its directory;
 *   3. for each process ID in the order given: read stat again (still running, same start
 *      time?), close the directory, make the row.
 * Then one write. No tool that keeps those guarantees can take less. */
#include "floor_common.h"

struct process {
    unsigned pid;
    int directory;
    unsigned long long created;
    char *exe;
    ssize_t exe_length;
    struct text cmdline;
};

static int by_pid(const void *a, const void *b)
{
    unsigned x = (*(struct process *const *)a)->pid, y = (*(struct process *const *)b)->pid;
    return x < y ? -1 : x > y;
}

/* 100-ns units since 1601 of a start `ticks` after a boot at `boot` (Unix seconds). */
static unsigned long long created_units(unsigned long long boot, unsigned long long ticks)
{
    unsigned long long hz = (unsigned long long)sysconf(_SC_CLK_TCK);
    return 116444736000000000ULL + boot * 10000000ULL + ticks / hz * 10000000ULL +
           ticks % hz * 10000000ULL / hz;
}

int main(int argc, char **argv)
{
    guarded_start();
    int count = argc - 1;
    struct process *processes = calloc((size_t)count + 1, sizeof *processes);
    struct process **found = calloc((size_t)count + 1, sizeof *found);
    struct text stat = {0};
    char exe[8192];
    long long boot = -1;
    int found_count = 0;
    if (!processes || !found)
        return 3;

    for (int i = 0; i < count; ++i) {
        struct process *p = &processes[i];
        p->pid = parse_pid(argv[i + 1]);
        p->directory = p->pid ? open_process_directory(p->pid, &stat) : -1;
        if (p->directory < 0)
            continue;
        if (read_short(p->directory, "stat", &stat) <= 0) {
            close(p->directory);
            p->directory = -1;
            continue;
        }
        unsigned long long ticks = stat_field(stat.data, 22);
        if (boot < 0) {
            struct text proc_stat = {0};
            const char *line = read_short(AT_FDCWD, "/proc/stat", &proc_stat) > 0
                                   ? strstr(proc_stat.data, "\nbtime ")
                                   : NULL;
            boot = line ? (long long)strtoull(line + 7, NULL, 10) : 0;
            free(proc_stat.data);
        }
        p->created = created_units((unsigned long long)boot, ticks);
        p->exe_length = readlinkat(p->directory, "exe", exe, sizeof exe);
        if (p->exe_length > 0) {
            p->exe = malloc((size_t)p->exe_length);
            if (!p->exe)
                return 3;
            memcpy(p->exe, exe, (size_t)p->exe_length);
        }
        found[found_count++] = p;
    }

    qsort(found, (size_t)found_count, sizeof *found, by_pid);
    struct text cmdline = {0};
    for (int k = 0; k < found_count; ++k) {
        /* Read into one buffer, kept in a block of its own length. */
        struct text *kept = &found[k]->cmdline;
        if (read_short(found[k]->directory, "cmdline", &cmdline) <= 0)
            continue;
        kept->data = malloc(cmdline.size);
        if (!kept->data)
            return 3;
        memcpy(kept->data, cmdline.data, cmdline.size);
        kept->size = kept->room = cmdline.size;
    }
    free(cmdline.data);

    struct out o = {0};
    out_text(&o, "{\"processes\":[");
    for (int i = 0; i < count; ++i) {
        struct process *p = &processes[i];
        if (i > 0)
            out_bytes(&o, ",", 1);
        out_text(&o, "{\"pid\":");
        out_unsigned(&o, p->pid);
        if (p->directory < 0) {
            out_text(&o, ",\"status\":\"not_found\"}");
            continue;
        }
        int same = read_short(p->directory, "stat", &stat) > 0 &&
                   created_units((unsigned long long)boot, stat_field(stat.data, 22)) == p->created;
        close(p->directory);
        if (!same) {
            out_text(&o, ",\"status\":\"not_found\"}");
            continue;
        }
        if (p->exe_length <= 0 || p->cmdline.size == 0) {
            out_text(&o, ",\"status\":\"error\"}");
            continue;
        }
        char *cmdline = p->cmdline.data;
        size_t length = p->cmdline.size;
        for (size_t k = 0; k + 1 < length; ++k)
            if (cmdline[k] == '\0')
                cmdline[k] = ' ';
        if (cmdline[length - 1] == '\0')
            --length;
        out_text(&o, ",\"createdAt\":\"");
        out_unsigned(&o, p->created);
        out_text(&o, "\",\"executablePath\":\"");
        out_escaped(&o, p->exe, (size_t)p->exe_length);
        out_text(&o, "\",\"commandLine\":\"");
        out_escaped(&o, cmdline, length);
        out_text(&o, "\"}");
        free(p->cmdline.data);
        p->cmdline.data = NULL;
    }
    out_text(&o, "]}");
    return out_flush(&o);
}
