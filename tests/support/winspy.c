/* winspy: a test-only helper that prints what another process's windows show, one line each. */
#include "windump.h"

#include <string.h>

/*
 * Usage: winspy [EXE-NAME]  or  winspy --version  or  winspy --serve
 * Prints every top-level window (of the processes whose image is EXE-NAME, or of all), each
 * followed by its child controls and, for list boxes, their items; with --version instead the
 * version record that GetVersionExA gives a program in the same Wine session. windump.h
 * describes the lines.
 *
 * With --serve it stays and answers requests from standard input, one a line, until its end:
 *   windows [EXE-NAME]   the lines "winspy [EXE-NAME]" prints
 *   version              the line "winspy --version" prints
 * each answer followed by the line "end" and flushed. A request it does not know is answered
 * with "error\treason=...\trequest=..." before the "end". The tests look at the windows many
 * times a second, and each new Wine process would cost tens of milliseconds on a PC and
 * seconds in the emulated test guest. Wine fixes a process's version record when the process
 * starts, so "version" tells what was reported then: ask a reader started after the last
 * change of the Windows version.
 */

/* Far longer than any program name the tests ask for. */
#define REQUEST_ROOM 1024

static void AnswerError(const char *reason, const char *request)
{
    fprintf(stdout, "error\treason=%s\trequest=", reason);
    WindumpEscaped(stdout, request, (int)strlen(request));
    putc('\n', stdout);
}

static void Answer(const char *request)
{
    if (strcmp(request, "version") == 0)
        WindumpVersion(stdout);
    else if (strcmp(request, "windows") == 0)
        WindumpWindows(stdout, NULL, 0);
    else if (strncmp(request, "windows ", 8) == 0 && request[8] != 0)
        WindumpWindows(stdout, request + 8, 0);
    else
        AnswerError("unknown request", request);
}

static int Serve(void)
{
    static char request[REQUEST_ROOM];
    while (fgets(request, sizeof(request), stdin)) {
        size_t length = strlen(request);
        int whole = length > 0 && request[length - 1] == '\n';
        while (length > 0 && (request[length - 1] == '\n' || request[length - 1] == '\r'))
            request[--length] = 0;
        if (!whole && !feof(stdin)) {
            /* The rest of the line is no request of its own. */
            int c;
            do
                c = getchar();
            while (c != EOF && c != '\n');
            AnswerError("request too long", request);
        } else {
            Answer(request);
        }
        fputs("end\n", stdout);
        fflush(stdout);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc > 2) {
        fputs("usage: winspy [EXE-NAME] | --version | --serve\n", stderr);
        return 2;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        WindumpVersion(stdout);
        fflush(stdout);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--serve") == 0)
        return Serve();
    WindumpWindows(stdout, argc == 2 ? argv[1] : NULL, 0);
    fflush(stdout);
    return 0;
}
