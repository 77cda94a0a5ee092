/* watch: the benchmark's eye inside Wine, reporting when named top-level windows show or hide. */
#define _WIN32_WINNT 0x0602
#include <windows.h>
#include <stdio.h>
#include <string.h>

/*
 * Usage: watch LABEL:CLASS[:TITLE] ...
 * Looks for each window every millisecond and prints a line whenever one comes into being
 * (hidden or not), becomes visible, stops being visible or goes away:
 *   LABEL created|shown|hidden|gone MICROSECONDS
 * counted from 1970 on the real-time clock, which the harness reads too, so its own readings
 * and these compare directly. A first line "ready MICROSECONDS" says the watching has begun.
 * Runs until it is ended.
 */

#define MAX_TARGETS 8
/* Seconds from 1601, where Windows counts, to 1970, in 100 ns units. */
#define UNIX_EPOCH_TICKS 116444736000000000ULL

struct Target {
    const char *label;
    char className[256];
    const char *title;
    BOOL exists;
    BOOL visible;
};

static unsigned long long NowMicroseconds(void)
{
    FILETIME now;
    ULARGE_INTEGER ticks;
    GetSystemTimePreciseAsFileTime(&now);
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return (ticks.QuadPart - UNIX_EPOCH_TICKS) / 10;
}

static void Report(const struct Target *target, const char *event, unsigned long long stamp)
{
    printf("%s %s %llu\n", target->label, event, stamp);
    fflush(stdout);
}

static int ParseTarget(char *argument, struct Target *target)
{
    char *classStart = strchr(argument, ':');
    char *titleStart;
    if (classStart == NULL || classStart == argument)
        return 0;
    *classStart++ = 0;
    titleStart = strchr(classStart, ':');
    if (titleStart != NULL)
        *titleStart++ = 0;
    if (*classStart == 0 || strlen(classStart) >= sizeof(target->className))
        return 0;
    target->label = argument;
    strcpy(target->className, classStart);
    target->title = titleStart;
    target->exists = FALSE;
    target->visible = FALSE;
    return 1;
}

int main(int argc, char **argv)
{
    struct Target targets[MAX_TARGETS];
    int count = argc - 1;
    int i;
    if (count < 1 || count > MAX_TARGETS) {
        fprintf(stderr, "usage: watch LABEL:CLASS[:TITLE] ... (at most %d)\n", MAX_TARGETS);
        return 2;
    }
    for (i = 0; i < count; i++) {
        if (!ParseTarget(argv[i + 1], &targets[i])) {
            fprintf(stderr, "watch: bad target %s\n", argv[i + 1]);
            return 2;
        }
    }
    /* Sleep(1) is only as fine as the timer's resolution. */
    timeBeginPeriod(1);
    printf("ready %llu\n", NowMicroseconds());
    fflush(stdout);
    for (;;) {
        for (i = 0; i < count; i++) {
            HWND window = FindWindowA(targets[i].className, targets[i].title);
            BOOL exists = window != NULL;
            BOOL visible = exists && IsWindowVisible(window);
            unsigned long long stamp = NowMicroseconds();
            if (exists && !targets[i].exists)
                Report(&targets[i], "created", stamp);
            if (visible != targets[i].visible)
                Report(&targets[i], visible ? "shown" : "hidden", stamp);
            if (!exists && targets[i].exists)
                Report(&targets[i], "gone", stamp);
            targets[i].exists = exists;
            targets[i].visible = visible;
        }
        Sleep(1);
    }
}
