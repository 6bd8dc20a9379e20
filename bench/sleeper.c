/* A Windows process for the tool to look at under Wine: prints its process ID, then waits until
 * it is killed. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    printf("%lu\n", (unsigned long)GetCurrentProcessId());
    fflush(stdout);
    for (;;)
        Sleep(INFINITE);
}
