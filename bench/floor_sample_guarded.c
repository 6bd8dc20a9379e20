/* The guarded floor for `sample`: the system calls the tool makes on Linux, in the same order,
 * and nothing else. For each process ID: open the /proc/<pid> directory (every read goes through
 * it, so a recycled PID is never read halfway), check with tgkill that the PID leads its thread
 * group, read stat and status through the directory, one read each, close it; then one write.
 * No tool that keeps those guarantees can take less. */
#include "floor_common.h"

int main(int argc, char **argv)
{
    guarded_start();
    struct text stat = {0}, status = {0};
    struct out o = {0};

    out_text(&o, "{\"samples\":[");
    for (int i = 1; i < argc; ++i) {
        unsigned pid = parse_pid(argv[i]);
        if (i > 1)
            out_bytes(&o, ",", 1);
        out_text(&o, "{\"pid\":");
        out_unsigned(&o, pid);
        int directory = pid ? open_process_directory(pid, &status) : -1;
        int found = directory >= 0 && read_short(directory, "stat", &stat) > 0 &&
                    read_short(directory, "status", &status) > 0;
        if (directory >= 0)
            close(directory);
        if (!found) {
            out_text(&o, ",\"status\":\"not_found\"}");
            continue;
        }
        out_text(&o, ",\"utime\":");
        out_unsigned(&o, stat_field(stat.data, 14));
        out_text(&o, ",\"stime\":");
        out_unsigned(&o, stat_field(stat.data, 15));
        out_text(&o, ",\"rssKiB\":");
        out_unsigned(&o, status_kib(status.data, "VmRSS"));
        out_text(&o, ",\"peakKiB\":");
        out_unsigned(&o, status_kib(status.data, "VmHWM"));
        out_text(&o, "}");
    }
    out_text(&o, "]}");
    return out_flush(&o);
}
