/* watch LABEL CLASS TITLE ... (TITLE "" for any): the benchmark's eye inside Wine. Looks for
   each top-level window every millisecond and prints "LABEL created|shown|hidden|gone
   MICROSECONDS" whenever one comes into being (hidden or not), becomes visible, stops being
   visible or goes away, counted from 1970 on the real-time clock, which the harness reads too.
   A first line "watcher ready MICROSECONDS" says the watching has begun; runs until ended. */
#define _WIN32_WINNT 0x0602
#include <windows.h>
#include <stdio.h>

#define MAX_TARGETS 8
/* From 1601, where Windows counts, to 1970, in 100 ns units. */
#define UNIX_EPOCH_TICKS 116444736000000000ULL

static unsigned long long NowMicroseconds(void)
{
    ULARGE_INTEGER ticks;
    GetSystemTimePreciseAsFileTime((FILETIME *)&ticks);
    return (ticks.QuadPart - UNIX_EPOCH_TICKS) / 10;
}

static void Say(const char *label, const char *event, unsigned long long stamp)
{
    printf("%s %s %llu\n", label, event, stamp);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    BOOL existed[MAX_TARGETS] = {0}, wasVisible[MAX_TARGETS] = {0};
    int count = (argc - 1) / 3;
    int i;
    if (count < 1 || count > MAX_TARGETS || argc != 1 + 3 * count) {
        fprintf(stderr, "usage: watch LABEL CLASS TITLE ... (at most %d)\n", MAX_TARGETS);
        return 2;
    }
    /* Sleep(1) is only as fine as the timer's resolution. */
    timeBeginPeriod(1);
    Say("watcher", "ready", NowMicroseconds());
    for (;;) {
        for (i = 0; i < count; i++) {
            const char *label = argv[1 + 3 * i], *title = argv[3 + 3 * i];
            HWND window = FindWindowA(argv[2 + 3 * i], *title != 0 ? title : NULL);
            BOOL exists = window != NULL;
            BOOL visible = exists && IsWindowVisible(window);
            unsigned long long stamp = NowMicroseconds();
            if (exists && !existed[i])
                Say(label, "created", stamp);
            if (visible != wasVisible[i])
                Say(label, visible ? "shown" : "hidden", stamp);
            if (!exists && existed[i])
                Say(label, "gone", stamp);
            existed[i] = exists;
            wasVisible[i] = visible;
        }
        Sleep(1);
    }
}
