/* A process with whatever command line it is given, for the memory rows: it only waits until it
 * is killed. */
#include <unistd.h>

int main(void)
{
    for (;;)
        pause();
}
