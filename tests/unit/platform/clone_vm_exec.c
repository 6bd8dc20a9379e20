/* A process whose child shares its memory (clone with CLONE_VM and CLONE_VFORK) and then
 * executes another file: the child writes its ID on standard output, waits for a byte on
 * standard input, and executes the file named by the first argument, with that file's path and
 * this program's for its words and no environment. Run under a name ending in "-two", the
 * program only waits until it is killed; so does the parent. Raw system calls only in the
 * child, which runs on the parent's memory. */
#define _GNU_SOURCE
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static char* target;
static char* self;

static int child(void* unused) {
    (void)unused;
    char digits[16];
    long pid = syscall(SYS_getpid);
    int length = 0;
    char reversed[16];
    do {
        reversed[length++] = (char)('0' + pid % 10);
        pid /= 10;
    } while (pid > 0);
    for (int i = 0; i < length; ++i) digits[i] = reversed[length - 1 - i];
    digits[length++] = '\n';
    syscall(SYS_write, 1, digits, length);
    char byte;
    if (syscall(SYS_read, 0, &byte, 1) == 1) {
        char* const words[] = {target, self, NULL};
        syscall(SYS_execve, target, words, (char* const[]){NULL});
    }
    syscall(SYS_exit, 127);
    return 127;
}

int main(int argc, char** argv) {
    const size_t length = strlen(argv[0]);
    if (length >= 4 && strcmp(argv[0] + length - 4, "-two") == 0) {
        for (;;) pause();
    }
    if (argc != 2) return 2;
    self = argv[0];
    target = argv[1];
    static char stack[256 * 1024];
    if (clone(child, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, NULL) < 0) return 1;
    for (;;) pause();
}
