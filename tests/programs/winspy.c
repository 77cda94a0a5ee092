/*
 * winspy: a test-only helper that prints what another process's windows show, in the lines that
 * windump.h describes.
 *   winspy [EXE-NAME]   every top-level window (of the processes whose image is EXE-NAME, or of
 *                       all) with its child controls and, for list boxes, their items
 *   winspy --version    the version record that GetVersionExA gives a program in this Wine session
 *   winspy --serve      answers requests from standard input, one a line, until its end, each
 *                       answer followed by the line "end" and flushed:
 *   windows [EXE-NAME]   the lines "winspy [EXE-NAME]" prints
 *   sync EXE-NAME        "synced\twindows=N\tanswered=N\tforeground=HWND": sends each top-level
 *                        window of those processes a WM_NULL and waits (up to 5 s a window) for
 *                        its thread to answer, which a thread does only from its message loop,
 *                        done with the message it was handling; with the number of windows, of
 *                        those that answered, and the window with the desktop's keyboard focus
 *   version              the line "winspy --version" prints when the reader starts: Wine fixes a
 *                        process's version record then
 *   get KEY NAME         "value\ttype=T\tdata=HEX", the type and bytes a program reading the
 *                        value with the wide functions gets; or "value\tabsent=1"
 *   set KEY NAME T HEX   stores those bytes as a value of type T, the key made if need be: "done"
 *   delete KEY NAME      removes the value if it is there: "done"
 * Fields are separated by TABs, KEY begins HKEY_LOCAL_MACHINE\ or HKEY_CURRENT_USER\, and a
 * request it cannot answer gets "error\treason=...\trequest=...". The tests look many times a
 * second: a Wine process for each look would cost far more, in the emulated test guest most.
 */
#include "windump.h"

#include <stdlib.h>
#include <string.h>

/* Room for a value of 64 KiB in hex, far more than any the tests store. */
#define REQUEST_ROOM (1 << 18)

static const char HexDigits[] = "0123456789abcdef";

/* The registry key a path names, opened (made, for writing), or NULL. */
static HKEY OpenPath(const char *path, BOOL writing)
{
    static const struct { const char *name; HKEY root; } roots[] = {
        {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};
    HKEY key;
    size_t i;
    for (i = 0; i < sizeof(roots) / sizeof(roots[0]); i++) {
        size_t length = strlen(roots[i].name);
        if (strncmp(path, roots[i].name, length) == 0 &&
            (writing ? RegCreateKeyExA(roots[i].root, path + length, 0, NULL, 0, KEY_ALL_ACCESS,
                                       NULL, &key, NULL)
                     : RegOpenKeyExA(roots[i].root, path + length, 0, KEY_QUERY_VALUE, &key)) ==
                ERROR_SUCCESS)
            return key;
    }
    return NULL;
}

/* get, set and delete: the reason the request is refused, or NULL once it is answered. */
static const char *AnswerRegistry(char **fields, int count)
{
    static BYTE data[1 << 16];
    WCHAR name[256];
    BOOL getting = strcmp(fields[0], "get") == 0, setting = strcmp(fields[0], "set") == 0;
    const char *refusal = NULL;
    DWORD type, size = sizeof(data), i;
    LONG status;
    HKEY key;

    if (count != (setting ? 5 : 3))
        return "wrong number of fields";
    if (!MultiByteToWideChar(CP_ACP, 0, fields[2], -1, name, sizeof(name) / sizeof(name[0])))
        return "value name too long";
    key = OpenPath(fields[1], !getting);
    if (key == NULL) {
        if (setting)
            return "key not made";
        fputs(getting ? "value\tabsent=1\n" : "done\n", stdout);
        return NULL;
    }
    if (getting) {
        status = RegQueryValueExW(key, name, NULL, &type, data, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            fputs("value\tabsent=1\n", stdout);
        else if (status != ERROR_SUCCESS)
            refusal = "value not read";
        else {
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
            strspn(hex, HexDigits) != digits)
            refusal = "not a type and pairs of lower-case hex digits";
        else {
            for (size = 0; size < digits / 2; size++)
                data[size] = (BYTE)(((strchr(HexDigits, hex[2 * size]) - HexDigits) << 4) |
                                    (strchr(HexDigits, hex[2 * size + 1]) - HexDigits));
            if (RegSetValueExW(key, name, 0, type, data, size))
                refusal = "value not stored";
            else
                fputs("done\n", stdout);
        }
    } else {
        status = RegDeleteValueW(key, name);
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
            fputs("done\n", stdout);
        else
            refusal = "value not deleted";
    }
    RegCloseKey(key);
    return refusal;
}

typedef struct { const char *exe; int windows, answered; } Sync;

static BOOL CALLBACK SyncTopLevel(HWND window, LPARAM param)
{
    Sync *sync = (Sync *)param;
    DWORD pid = 0;
    DWORD_PTR result;
    GetWindowThreadProcessId(window, &pid);
    if (lstrcmpiA(WindumpProcessName(pid), sync->exe) != 0)
        return TRUE;
    sync->windows++;
    if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 5000, &result))
        sync->answered++;
    return TRUE;
}

/* Answers the request, or gives the reason it is refused. */
static const char *Answer(const char *request)
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
        return AnswerRegistry(fields, count);
    if (strcmp(request, "version") == 0)
        WindumpVersion(stdout);
    else if (strcmp(request, "windows") == 0)
        WindumpWindows(stdout, NULL, 0);
    else if (strncmp(request, "windows ", 8) == 0 && request[8] != 0)
        WindumpWindows(stdout, request + 8, 0);
    else if (strncmp(request, "sync ", 5) == 0 && request[5] != 0) {
        Sync sync = {request + 5, 0, 0};
        WindumpLoadProcesses();
        EnumWindows(SyncTopLevel, (LPARAM)&sync);
        fprintf(stdout, "synced\twindows=%d\tanswered=%d\tforeground=%#lx\n", sync.windows,
                sync.answered, (unsigned long)(ULONG_PTR)GetForegroundWindow());
    } else
        return "unknown request";
    return NULL;
}

static int Serve(void)
{
    static char request[REQUEST_ROOM];
    while (fgets(request, sizeof(request), stdin)) {
        size_t length = strlen(request);
        int whole = length > 0 && request[length - 1] == '\n';
        const char *refusal;
        while (length > 0 && (request[length - 1] == '\n' || request[length - 1] == '\r'))
            request[--length] = 0;
        if (whole || feof(stdin)) {
            refusal = Answer(request);
        } else {
            /* The rest of the line is no request of its own. */
            int c;
            while ((c = getchar()) != EOF && c != '\n')
                ;
            refusal = "request too long";
        }
        if (refusal) {
            fprintf(stdout, "error\treason=%s\trequest=", refusal);
            WindumpEscaped(stdout, request, (int)strlen(request));
            putc('\n', stdout);
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
    if (argc == 2 && strcmp(argv[1], "--serve") == 0)
        return Serve();
    if (argc == 2 && strcmp(argv[1], "--version") == 0)
        WindumpVersion(stdout);
    else
        WindumpWindows(stdout, argc == 2 ? argv[1] : NULL, 0);
    fflush(stdout);
    return 0;
}
