/* What both floor programs share: the process-ID arguments, whole-file reads of /proc and one
 * output buffer written at the end. Kept to plain system calls so that the floors cost what the
 * kernel costs and nothing more. */
#ifndef FLOOR_COMMON_H
#define FLOOR_COMMON_H

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* The output line, grown as needed and written once. */
struct out {
    char *data;
    size_t size;
    size_t room;
};

static inline void out_reserve(struct out *o, size_t more)
{
    if (o->size + more <= o->room)
        return;
    size_t room = o->room ? o->room : 4096;
    while (room < o->size + more)
        room *= 2;
    o->data = realloc(o->data, room);
    if (!o->data)
        _exit(3);
    o->room = room;
}

static inline void out_bytes(struct out *o, const char *bytes, size_t n)
{
    out_reserve(o, n);
    memcpy(o->data + o->size, bytes, n);
    o->size += n;
}

static inline void out_text(struct out *o, const char *text) { out_bytes(o, text, strlen(text)); }

static inline void out_unsigned(struct out *o, unsigned long long value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    out_reserve(o, (size_t)n);
    while (n)
        o->data[o->size++] = digits[--n];
}

/* Appends text as the inside of a JSON string: quote, backslash and control bytes escaped. */
static inline void out_escaped(struct out *o, const char *text, size_t n)
{
    static const char hex[] = "0123456789abcdef";
    out_reserve(o, n * 6);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\') {
            o->data[o->size++] = '\\';
            o->data[o->size++] = (char)c;
        } else if (c < 0x20) {
            memcpy(o->data + o->size, "\\u00", 4);
            o->data[o->size + 4] = hex[c >> 4];
            o->data[o->size + 5] = hex[c & 15];
            o->size += 6;
        } else {
            o->data[o->size++] = (char)c;
        }
    }
}

static inline int out_flush(struct out *o)
{
    out_bytes(o, "\n", 1);
    size_t done = 0;
    while (done < o->size) {
        ssize_t n = write(1, o->data + done, o->size - done);
        if (n <= 0)
            return 101;
        done += (size_t)n;
    }
    return 0;
}

/* A decimal process ID other than 0 that fits 32 bits, or 0 when the text is none. */
static inline unsigned parse_pid(const char *text)
{
    unsigned long long value = 0;
    if (!*text)
        return 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return 0;
        value = value * 10 + (unsigned)(*text - '0');
        if (value > 0xffffffffull)
            return 0;
    }
    return (unsigned)value;
}

/* Writes "/proc/<pid>/<leaf>" into path (room for 64 bytes). */
static inline void proc_path(char *path, unsigned pid, const char *leaf)
{
    char digits[12];
    int n = 0;
    do {
        digits[n++] = (char)('0' + pid % 10);
        pid /= 10;
    } while (pid);
    char *p = path;
    memcpy(p, "/proc/", 6);
    p += 6;
    while (n)
        *p++ = digits[--n];
    *p++ = '/';
    size_t leaf_length = strlen(leaf);
    memcpy(p, leaf, leaf_length + 1);
}

/* Reads a whole /proc file into buf (NUL-terminated); the byte count, or -1 when it can't. */
static inline ssize_t read_whole(const char *path, char *buf, size_t room)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t have = 0;
    for (;;) {
        ssize_t n = read(fd, buf + have, room - 1 - have);
        if (n < 0) {
            close(fd);
            return -1;
        }
        if (n == 0 || (have += (size_t)n) == room - 1)
            break;
    }
    close(fd);
    buf[have] = '\0';
    return (ssize_t)have;
}

/* The numbered field (1-based, as in proc(5)) of a /proc/<pid>/stat line; the command name,
 * which may hold spaces and parentheses, ends at the last ')'. */
static inline unsigned long long stat_field(const char *stat, int field)
{
    const char *p = strrchr(stat, ')');
    if (!p)
        return 0;
    p += 2; /* field 3 */
    for (int i = 3; i < field && *p; ++i) {
        p = strchr(p, ' ');
        if (!p)
            return 0;
        ++p;
    }
    return strtoull(p, NULL, 10);
}

/* The number after "<key>:" in /proc/<pid>/status (kB), or 0 when the line is absent. */
static inline unsigned long long status_kib(const char *status, const char *key)
{
    size_t key_length = strlen(key);
    for (const char *line = status; line && *line;) {
        if (strncmp(line, key, key_length) == 0 && line[key_length] == ':')
            return strtoull(line + key_length + 1, NULL, 10);
        line = strchr(line, '\n');
        if (line)
            ++line;
    }
    return 0;
}

/* --- What the guarded floors share: the calls the tool makes for its guarantees ------------- */

#include <errno.h>
#include <signal.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/syscall.h>

/* The tool's start-up calls: a closed standard descriptor held with /dev/null, SIGPIPE ignored,
 * the descriptor limit raised (one directory is held per process). */
static inline void guarded_start(void)
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", O_RDONLY);
    signal(SIGPIPE, SIG_IGN);
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

/* A growing buffer for a /proc file of any length. */
struct text {
    char *data;
    size_t size;
    size_t room;
};

/* Reads `name` under `directory` into t (NUL-terminated) until a read returns less than it was
 * asked, which for the files read here (stat, status, cmdline) is their end. The byte count, or
 * -1 when it can't. */
static inline ssize_t read_short(int directory, const char *name, struct text *t)
{
    int fd = openat(directory, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (t->room < 4096) {
        t->data = realloc(t->data, 4096);
        if (!t->data)
            _exit(3);
        t->room = 4096;
    }
    t->size = 0;
    for (;;) {
        if (t->size + 1 == t->room) {
            t->data = realloc(t->data, t->room * 2);
            if (!t->data)
                _exit(3);
            t->room *= 2;
        }
        size_t asked = t->room - 1 - t->size;
        ssize_t n = read(fd, t->data + t->size, asked);
        if (n < 0) {
            close(fd);
            return -1;
        }
        t->size += (size_t)n;
        if ((size_t)n < asked)
            break;
    }
    close(fd);
    t->data[t->size] = '\0';
    return (ssize_t)t->size;
}

/* Opens /proc/<pid> and checks that the PID names a process, not a thread of one: the
 * directory, or -1. As the tool: once per run, statfs tells that /proc is a proc filesystem
 * and /proc/self that tgkill counts PIDs as /proc does; then tgkill(pid, pid, 0) answers (the
 * status file's Tgid when the call is refused or counts otherwise). */
static inline int open_process_directory(unsigned pid, struct text *scratch)
{
    static int proc_checked, signals_checked, signals_count_as_proc;
    if (!proc_checked) {
        struct statfs facts;
        proc_checked = 1;
        if (statfs("/proc", &facts) != 0 || facts.f_type != PROC_SUPER_MAGIC)
            _exit(4);
    }
    char path[32];
    proc_path(path, pid, "");
    path[strlen(path) - 1] = '\0'; /* no trailing slash */
    int directory = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return -1;
    if (!signals_checked) {
        char link[32], own[24];
        signals_checked = 1;
        ssize_t length = readlink("/proc/self", link, sizeof link);
        int n = snprintf(own, sizeof own, "%d", (int)getpid());
        signals_count_as_proc = length == n && memcmp(link, own, (size_t)n) == 0;
    }
    if (!signals_count_as_proc || syscall(SYS_tgkill, (int)pid, (int)pid, 0) != 0) {
        int leader = 0;
        if ((!signals_count_as_proc || errno != ESRCH) &&
            read_short(directory, "status", scratch) > 0) {
            const char *tgid = strstr(scratch->data, "\nTgid:");
            leader = tgid && strtoull(tgid + 6, NULL, 10) == pid;
        }
        if (!leader) {
            close(directory);
            return -1;
        }
    }
    return directory;
}

#endif
