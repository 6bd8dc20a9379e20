/* The floor for `sample`: for each process ID, read /proc/<pid>/stat and /proc/<pid>/status and
 * print the processor times and the current and peak resident set, all on one line. Nothing
 * the tool does can take less than this. */
#include "floor_common.h"

int main(int argc, char **argv)
{
    static char stat[4096];
    static char status[8192];
    char path[64];
    struct out o = {0};

    out_text(&o, "{\"samples\":[");
    for (int i = 1; i < argc; ++i) {
        unsigned pid = parse_pid(argv[i]);
        if (i > 1)
            out_bytes(&o, ",", 1);
        out_text(&o, "{\"pid\":");
        out_unsigned(&o, pid);
        proc_path(path, pid, "stat");
        int found = pid && read_whole(path, stat, sizeof stat) > 0;
        if (found) {
            proc_path(path, pid, "status");
            found = read_whole(path, status, sizeof status) > 0;
        }
        if (!found) {
            out_text(&o, ",\"status\":\"not_found\"}");
            continue;
        }
        out_text(&o, ",\"utime\":");
        out_unsigned(&o, stat_field(stat, 14));
        out_text(&o, ",\"stime\":");
        out_unsigned(&o, stat_field(stat, 15));
        out_text(&o, ",\"rssKiB\":");
        out_unsigned(&o, status_kib(status, "VmRSS"));
        out_text(&o, ",\"peakKiB\":");
        out_unsigned(&o, status_kib(status, "VmHWM"));
        out_text(&o, "}");
    }
    out_text(&o, "]}");
    return out_flush(&o);
}
