/* The floor for `inspect`: for each process ID, read /proc/<pid>/stat (the start time), the
 * /proc/<pid>/exe link and /proc/<pid>/cmdline, and print them on one line. Nothing the tool
 * does can take less than this. */
#include "floor_common.h"

int main(int argc, char **argv)
{
    static char stat[4096];
    static char exe[4096];
    static char cmdline[1 << 17];
    char path[64];
    struct out o = {0};

    out_text(&o, "{\"processes\":[");
    for (int i = 1; i < argc; ++i) {
        unsigned pid = parse_pid(argv[i]);
        if (i > 1)
            out_bytes(&o, ",", 1);
        out_text(&o, "{\"pid\":");
        out_unsigned(&o, pid);
        proc_path(path, pid, "stat");
        if (!pid || read_whole(path, stat, sizeof stat) <= 0) {
            out_text(&o, ",\"status\":\"not_found\"}");
            continue;
        }
        proc_path(path, pid, "exe");
        ssize_t exe_length = readlink(path, exe, sizeof exe);
        proc_path(path, pid, "cmdline");
        ssize_t cmdline_length = read_whole(path, cmdline, sizeof cmdline);
        if (exe_length <= 0 || cmdline_length <= 0) {
            out_text(&o, ",\"status\":\"error\"}");
            continue;
        }
        for (ssize_t k = 0; k + 1 < cmdline_length; ++k)
            if (cmdline[k] == '\0')
                cmdline[k] = ' ';
        if (cmdline[cmdline_length - 1] == '\0')
            --cmdline_length;
        out_text(&o, ",\"startTicks\":");
        out_unsigned(&o, stat_field(stat, 22));
        out_text(&o, ",\"executablePath\":\"");
        out_escaped(&o, exe, (size_t)exe_length);
        out_text(&o, "\",\"commandLine\":\"");
        out_escaped(&o, cmdline, (size_t)cmdline_length);
        out_text(&o, "\"}");
    }
    out_text(&o, "]}");
    return out_flush(&o);
}
