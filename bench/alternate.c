/* Runs commands in turn, one run of each per iteration, and records every run: so that a burst
 * of load from elsewhere falls on every command alike, and each iteration gives one run of each
 * to compare (a pair, or more). The order alternates: forward on even iterations, backward on
 * odd ones (A B, B A, A B, ...), so no command always runs first.
 *
 *   alternate OUT WARMUP RUNS NAME COMMAND [NAME COMMAND...]
 *
 * COMMAND is split on spaces and started without a shell (posix_spawnp), its standard output
 * going to /dev/null; a last word "<FILE" is its standard input (a session's requests), which
 * is otherwise this program's. After WARMUP unrecorded iterations, RUNS iterations are
 * appended to OUT, one line per run: name, iteration, wall seconds, user seconds, system
 * seconds, tab-separated.
 * A command that fails (not exit status 0) stops the whole measurement with status 1. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

struct command {
    const char *name;
    char **argv;
    const char *input; /* NULL: this program's standard input */
};

static char **split(const char *text)
{
    char *copy = strdup(text);
    size_t room = 8, count = 0;
    char **argv = malloc(room * sizeof *argv);
    if (!copy || !argv)
        exit(2);
    for (char *word = strtok(copy, " "); word; word = strtok(NULL, " ")) {
        if (count + 2 > room) {
            room *= 2;
            argv = realloc(argv, room * sizeof *argv);
            if (!argv)
                exit(2);
        }
        argv[count++] = word;
    }
    argv[count] = NULL;
    if (count == 0) {
        fprintf(stderr, "alternate: empty command\n");
        exit(2);
    }
    return argv;
}

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec / 1e6; }

/* One run; records it when `out` is given. */
static void run(const struct command *c, FILE *out, int iteration)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (c->input)
        posix_spawn_file_actions_addopen(&actions, 0, c->input, O_RDONLY, 0);

    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid;
    if (posix_spawnp(&pid, c->argv[0], &actions, NULL, c->argv, environ) != 0) {
        fprintf(stderr, "alternate: cannot start %s\n", c->argv[0]);
        exit(1);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) {
        perror("alternate: wait4");
        exit(1);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "alternate: %s failed (status %d)\n", c->name, status);
        exit(1);
    }
    if (out) {
        double wall = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
        fprintf(out, "%s\t%d\t%.9f\t%.6f\t%.6f\n", c->name, iteration, wall,
                seconds(usage.ru_utime), seconds(usage.ru_stime));
    }
}

int main(int argc, char **argv)
{
    if (argc < 6 || (argc - 4) % 2 != 0) {
        fprintf(stderr, "usage: alternate OUT WARMUP RUNS NAME COMMAND [NAME COMMAND...]\n");
        return 2;
    }
    FILE *out = fopen(argv[1], "a");
    if (!out) {
        perror(argv[1]);
        return 2;
    }
    const int warmup = atoi(argv[2]);
    const int runs = atoi(argv[3]);
    const int count = (argc - 4) / 2;
    struct command *commands = calloc((size_t)count, sizeof *commands);
    if (!commands)
        return 2;
    for (int i = 0; i < count; ++i) {
        commands[i].name = argv[4 + 2 * i];
        commands[i].argv = split(argv[5 + 2 * i]);
        char **last = commands[i].argv;
        while (last[1])
            ++last;
        if ((*last)[0] == '<' && last != commands[i].argv) {
            commands[i].input = *last + 1;
            *last = NULL;
        }
    }
    for (int iteration = -warmup; iteration < runs; ++iteration) {
        FILE *record = iteration >= 0 ? out : NULL;
        const int backward = (iteration + warmup) % 2 != 0;
        for (int k = 0; k < count; ++k)
            run(&commands[backward ? count - 1 - k : k], record, iteration);
    }
    return fclose(out) == 0 ? 0 : 1;
}
