/* The guarded floor for `inspect`: the system calls the tool makes on Linux, in the same order,
 * and nothing else. One process at a time, as the tool reads them:
 *   open the /proc/<pid> directory, check with tgkill that the PID leads its thread group, read
 *   stat (the start time; /proc/stat once, for the boot time); note the program: open its
 *   pagemap (its memory, held as a witness) and stat its executable; read the exe link, then
 *   cmdline; recheck: read stat again (still running, same start time?), read one entry of the
 *   witness (the same memory?) and stat the executable again (the same file?); close the
 *   witness and the directory, make the row.
 * Then one write. No tool that keeps those guarantees can take less. */
#include <sys/stat.h>

#include "floor_common.h"

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
    struct text stat = {0};
    struct text cmdline = {0};
    char exe[8192];
    long long boot = -1;
    struct out o = {0};
    out_text(&o, "{\"processes\":[");
    for (int i = 1; i < argc; ++i) {
        unsigned pid = parse_pid(argv[i]);
        if (i > 1)
            out_bytes(&o, ",", 1);
        out_text(&o, "{\"pid\":");
        out_unsigned(&o, pid);
        int directory = pid ? open_process_directory(pid, &stat) : -1;
        if (directory >= 0 && read_short(directory, "stat", &stat) <= 0) {
            close(directory);
            directory = -1;
        }
        if (directory < 0) {
            out_text(&o, ",\"status\":\"not_found\"}");
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
        unsigned long long created = created_units((unsigned long long)boot, ticks);
        int witness = openat(directory, "pagemap", O_RDONLY | O_CLOEXEC);
        struct stat noted, now;
        int noted_read = fstatat(directory, "exe", &noted, 0) == 0;
        ssize_t exe_length = readlinkat(directory, "exe", exe, sizeof exe);
        ssize_t cmdline_length = read_short(directory, "cmdline", &cmdline);

        unsigned long long entry;
        int same = read_short(directory, "stat", &stat) > 0 &&
                   created_units((unsigned long long)boot, stat_field(stat.data, 22)) == created;
        same = same && (witness < 0 || pread(witness, &entry, sizeof entry, 0) == sizeof entry);
        same = same && (!noted_read || (fstatat(directory, "exe", &now, 0) == 0 &&
                                        now.st_dev == noted.st_dev && now.st_ino == noted.st_ino));
        if (witness >= 0)
            close(witness);
        close(directory);
        if (!same) {
            out_text(&o, ",\"status\":\"not_found\"}");
            continue;
        }
        if (exe_length <= 0 || cmdline_length <= 0) {
            out_text(&o, ",\"status\":\"error\"}");
            continue;
        }
        size_t length = (size_t)cmdline_length;
        for (size_t k = 0; k + 1 < length; ++k)
            if (cmdline.data[k] == '\0')
                cmdline.data[k] = ' ';
        if (cmdline.data[length - 1] == '\0')
            --length;
        out_text(&o, ",\"createdAt\":\"");
        out_unsigned(&o, created);
        out_text(&o, "\",\"executablePath\":\"");
        out_escaped(&o, exe, (size_t)exe_length);
        out_text(&o, "\",\"commandLine\":\"");
        out_escaped(&o, cmdline.data, length);
        out_text(&o, "\"}");
    }
    out_text(&o, "]}");
    return out_flush(&o);
}
