/* Starts a program with access to every I/O port (iopl 3), which it and the processes it starts
 * inherit, so that Wine's 32-bit programs reach the emulated machine's PCI configuration ports. */
#include <stdio.h>
#include <sys/io.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: ports PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    if (iopl(3) != 0) {
        perror("ports: iopl");
        return 1;
    }
    execv(argv[1], argv + 1);
    perror(argv[1]);
    return 1;
}
