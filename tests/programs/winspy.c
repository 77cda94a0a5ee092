/* winspy: a test-only helper that prints what another process's windows show, one line each. */
#include "windump.h"

#include <tlhelp32.h>
#include <stdlib.h>
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
 *   sync EXE-NAME        "synced\twindows=N\tanswered=N\tforeground=HWND": sends each top-level
 *                        window of the processes whose image is EXE-NAME a WM_NULL and waits
 *                        (up to 5 s a window) for its thread to answer it, which a thread
 *                        does only from its message loop, once it has done with the message
 *                        it was handling; with the number of windows, the number that
 *                        answered and the window that has the keyboard focus of the desktop
 *   version              the line "winspy --version" prints
 *   get KEY NAME         "value\ttype=T\tdata=HEX": the value's type and bytes, as a program
 *                        reading it with the wide functions gets them; or "value\tabsent=1"
 *   set KEY NAME T HEX   stores those bytes as a value of type T (the key made if need be)
 *   delete KEY NAME      removes the value if it is there
 * (fields separated by TABs, KEY beginning HKEY_LOCAL_MACHINE\ or HKEY_CURRENT_USER\), the
 * last two answered "done"; each answer followed by the line "end" and flushed. A request it does not know is answered
 * with "error\treason=...\trequest=..." before the "end". The tests look at the windows many
 * times a second, and each new Wine process would cost tens of milliseconds on a PC and
 * seconds in the emulated test guest, and so would a "reg" command for every change of the
 * version values. Wine fixes a process's version record when the process
 * starts, so "version" tells what was reported then: ask a reader started after the last
 * change of the Windows version.
 */

/* Room for a value of 64 KiB in hex, far more than any the tests store. */
#define REQUEST_ROOM (1 << 18)

static void AnswerError(const char *reason, const char *request)
{
    fprintf(stdout, "error\treason=%s\trequest=", reason);
    WindumpEscaped(stdout, request, (int)strlen(request));
    putc('\n', stdout);
}

/* The registry key a path names, opened (made, for writing), or NULL. */
static HKEY OpenPath(const char *path, BOOL writing)
{
    static const struct { const char *name; HKEY root; } roots[] = {
        { "HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE },
        { "HKEY_CURRENT_USER\\", HKEY_CURRENT_USER },
    };
    HKEY key = NULL;
    size_t i;
    for (i = 0; i < sizeof(roots) / sizeof(roots[0]); i++) {
        size_t length = strlen(roots[i].name);
        if (strncmp(path, roots[i].name, length) != 0)
            continue;
        if (writing ? RegCreateKeyExA(roots[i].root, path + length, 0, NULL, 0, KEY_ALL_ACCESS,
                                      NULL, &key, NULL)
                    : RegOpenKeyExA(roots[i].root, path + length, 0, KEY_QUERY_VALUE, &key))
            key = NULL;
        break;
    }
    return key;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

/* The registry requests; fields holds the request's TAB-separated fields, count of them. */
static void AnswerRegistry(const char *request, char **fields, int count)
{
    static BYTE data[1 << 16];
    WCHAR name[256];
    HKEY key;
    DWORD type, size = sizeof(data), i;
    LONG status;
    BOOL setting = strcmp(fields[0], "set") == 0;

    if (count != (setting ? 5 : 3)) {
        AnswerError("wrong number of fields", request);
        return;
    }
    if (!MultiByteToWideChar(CP_ACP, 0, fields[2], -1, name, sizeof(name) / sizeof(name[0]))) {
        AnswerError("value name too long", request);
        return;
    }
    key = OpenPath(fields[1], strcmp(fields[0], "get") != 0);
    if (key == NULL) {
        if (strcmp(fields[0], "set") == 0)
            AnswerError("key not made", request);
        else
            fputs(strcmp(fields[0], "get") == 0 ? "value\tabsent=1\n" : "done\n", stdout);
        return;
    }
    if (strcmp(fields[0], "get") == 0) {
        status = RegQueryValueExW(key, name, NULL, &type, data, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            fputs("value\tabsent=1\n", stdout);
        } else if (status != ERROR_SUCCESS) {
            AnswerError("value not read", request);
        } else {
            fprintf(stdout, "value\ttype=%lu\tdata=", (unsigned long)type);
            for (i = 0; i < size; i++)
                fprintf(stdout, "%02x", data[i]);
            putc('\n', stdout);
        }
    } else if (setting) {
        const char *hex = fields[4];
        size_t digits = strlen(hex);
        char *end;
        type = strtoul(fields[3], &end, 10);
        if (*end || end == fields[3] || digits % 2 || digits / 2 > sizeof(data) ||
            strspn(hex, "0123456789abcdef") != digits) {
            AnswerError("not a type and pairs of lower-case hex digits", request);
        } else {
            for (size = 0; size < digits / 2; size++)
                data[size] = (BYTE)(HexDigit(hex[2 * size]) << 4 | HexDigit(hex[2 * size + 1]));
            if (RegSetValueExW(key, name, 0, type, data, size))
                AnswerError("value not stored", request);
            else
                fputs("done\n", stdout);
        }
    } else {
        status = RegDeleteValueW(key, name);
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
            fputs("done\n", stdout);
        else
            AnswerError("value not deleted", request);
    }
    RegCloseKey(key);
}

#define MAX_SYNCED 64

typedef struct {
    DWORD pids[MAX_SYNCED];
    int processes;
    int windows;
    int answered;
} Sync;

static BOOL CALLBACK SyncTopLevel(HWND window, LPARAM param)
{
    Sync *sync = (Sync *)param;
    DWORD pid = 0;
    DWORD_PTR result;
    int i;
    GetWindowThreadProcessId(window, &pid);
    for (i = 0; i < sync->processes && sync->pids[i] != pid; i++)
        ;
    if (i == sync->processes)
        return TRUE;
    sync->windows++;
    if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000, &result))
        sync->answered++;
    return TRUE;
}

static void AnswerSync(const char *exe)
{
    Sync sync;
    PROCESSENTRY32 entry;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    memset(&sync, 0, sizeof(sync));
    entry.dwSize = sizeof(entry);
    if (snapshot != INVALID_HANDLE_VALUE) {
        if (Process32First(snapshot, &entry)) {
            do {
                if (lstrcmpiA(entry.szExeFile, exe) == 0 && sync.processes < MAX_SYNCED)
                    sync.pids[sync.processes++] = entry.th32ProcessID;
            } while (Process32Next(snapshot, &entry));
        }
        CloseHandle(snapshot);
    }
    EnumWindows(SyncTopLevel, (LPARAM)&sync);
    fprintf(stdout, "synced\twindows=%d\tanswered=%d\tforeground=%#lx\n", sync.windows,
            sync.answered, (unsigned long)(ULONG_PTR)GetForegroundWindow());
}

static void Answer(const char *request)
{
    static char copy[REQUEST_ROOM];
    char *fields[6];
    int count = 0;

    strcpy(copy, request);
    fields[count++] = copy;
    while (count < 6 && (fields[count] = strchr(fields[count - 1], '\t')) != NULL)
        *fields[count++]++ = 0;
    if (strcmp(fields[0], "get") == 0 || strcmp(fields[0], "set") == 0 ||
        strcmp(fields[0], "delete") == 0)
        AnswerRegistry(request, fields, count);
    else if (strcmp(request, "version") == 0)
        WindumpVersion(stdout);
    else if (strcmp(request, "windows") == 0)
        WindumpWindows(stdout, NULL, 0);
    else if (strncmp(request, "windows ", 8) == 0 && request[8] != 0)
        WindumpWindows(stdout, request + 8, 0);
    else if (strncmp(request, "sync ", 5) == 0 && request[5] != 0)
        AnswerSync(request + 5);
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
