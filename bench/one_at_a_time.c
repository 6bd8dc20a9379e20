/* Asks a session one request at a time, as a monitor that waits for each answer does: starts
 * `TOOL serve` with pipes for its standard input and output, writes "sample PID" COUNT times,
 * each once the answer to the one before has come whole, and checks that every answer found
 * the process. Exit status 0 when all did and the session ended well, 1 otherwise.
 *
 *   one_at_a_time TOOL PID COUNT
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: one_at_a_time TOOL PID COUNT\n");
        return 2;
    }
    const long count = atol(argv[3]);
    char request[64];
    const int request_length = snprintf(request, sizeof request, "sample %s\n", argv[2]);
    int to_session[2], from_session[2];
    if (pipe2(to_session, O_CLOEXEC) != 0 || pipe2(from_session, O_CLOEXEC) != 0) {
        perror("one_at_a_time: pipe");
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, to_session[0], 0);
    posix_spawn_file_actions_adddup2(&actions, from_session[1], 1);
    char *session_argv[] = {argv[1], "serve", NULL};
    pid_t session;
    if (posix_spawn(&session, argv[1], &actions, NULL, session_argv, environ) != 0) {
        fprintf(stderr, "one_at_a_time: cannot start %s\n", argv[1]);
        return 1;
    }
    close(to_session[0]);
    close(from_session[1]);

    static char answer[1 << 16];
    int all_found = 1;
    for (long i = 0; i < count; ++i) {
        if (write(to_session[1], request, (size_t)request_length) != request_length) {
            perror("one_at_a_time: write");
            return 1;
        }
        size_t length = 0;
        for (;;) {
            const ssize_t got = read(from_session[0], answer + length, sizeof answer - 1 - length);
            if (got <= 0) {
                fprintf(stderr, "one_at_a_time: the session ended early\n");
                return 1;
            }
            length += (size_t)got;
            if (answer[length - 1] == '\n')
                break;
        }
        answer[length] = '\0';
        all_found = all_found && strstr(answer, "\"status\":\"found\"") != NULL;
    }
    close(to_session[1]);
    int status = 0;
    if (waitpid(session, &status, 0) != session || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "one_at_a_time: the session failed (status %d)\n", status);
        return 1;
    }
    if (!all_found)
        fprintf(stderr, "one_at_a_time: an answer did not find process %s\n", argv[2]);
    return all_found ? 0 : 1;
}
