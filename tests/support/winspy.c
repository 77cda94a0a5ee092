/* winspy: a test-only helper that prints what another process's windows show, one line each. */
#include "windump.h"

#include <string.h>

/*
 * Usage: winspy [EXE-NAME]  or  winspy --version
 * Prints every top-level window (of the processes whose image is EXE-NAME, or of all), each
 * followed by its child controls and, for list boxes, their items; with --version instead the
 * version record that GetVersionExA gives a program in the same Wine session. windump.h
 * describes the lines.
 */
int main(int argc, char **argv)
{
    if (argc > 2) {
        fputs("usage: winspy [EXE-NAME] | --version\n", stderr);
        return 2;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        WindumpVersion(stdout);
        fflush(stdout);
        return 0;
    }
    WindumpWindows(stdout, argc == 2 ? argv[1] : NULL, 0);
    fflush(stdout);
    return 0;
}
