/* windump: another process's windows as windump.h's lines, never waiting on it for long. */
#include "windump.h"

#include <tlhelp32.h>
#include <string.h>

#define TEXT_ROOM 16384
#define REPLY_TIMEOUT_MS 3000
#define MAX_PROCESSES 4096
#define NUMBER(handle) ((unsigned long)(ULONG_PTR)(handle))

static PROCESSENTRY32 Processes[MAX_PROCESSES];
static int ProcessCount;
static BOOL ItemsThroughOwnBuffer;

void WindumpLoadProcesses(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    BOOL more;
    ProcessCount = 0;
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof(entry);
    for (more = Process32First(snapshot, &entry); more && ProcessCount < MAX_PROCESSES;
         more = Process32Next(snapshot, &entry))
        Processes[ProcessCount++] = entry;
    CloseHandle(snapshot);
}

const char *WindumpProcessName(DWORD pid)
{
    int i;
    for (i = 0; i < ProcessCount; i++)
        if (Processes[i].th32ProcessID == pid)
            return Processes[i].szExeFile;
    return "";
}

void WindumpEscaped(FILE *out, const char *bytes, int count)
{
    static const char named[] = "\r\n\t\\", letters[] = "rnt\\";
    int i;
    for (i = 0; i < count; i++) {
        unsigned char c = (unsigned char)bytes[i];
        const char *name = c ? strchr(named, c) : NULL;
        if (name)
            fprintf(out, "\\%c", letters[name - named]);
        else if (c < 0x20 || c > 0x7E)
            fprintf(out, "\\x%02x", c);
        else
            putc(c, out);
    }
}

static void PrintEscapedWide(FILE *out, const WCHAR *text, int length)
{
    static char bytes[TEXT_ROOM * 2];
    WindumpEscaped(out, bytes, length > 0 ? WideCharToMultiByte(1252, 0, text, length, bytes,
                                                                sizeof(bytes), "?", NULL) : 0);
}

void WindumpVersion(FILE *out)
{
    static WCHAR csd[128];
    OSVERSIONINFOA info = {.dwOSVersionInfoSize = sizeof(info)};
    if (!GetVersionExA(&info)) {
        fputs("version\tfailed=1\n", out);
        return;
    }
    fprintf(out, "version\tmajor=%lu\tminor=%lu\tbuild=%#lx\tplatform=%lu\tcsd=",
            (unsigned long)info.dwMajorVersion, (unsigned long)info.dwMinorVersion,
            (unsigned long)info.dwBuildNumber, (unsigned long)info.dwPlatformId);
    info.szCSDVersion[sizeof(info.szCSDVersion) - 1] = 0;
    PrintEscapedWide(out, csd, MultiByteToWideChar(CP_ACP, 0, info.szCSDVersion, -1, csd, 128) - 1);
    putc('\n', out);
}

static void PrintWindowText(FILE *out, HWND window)
{
    static WCHAR text[TEXT_ROOM];
    DWORD_PTR length = 0, room = TEXT_ROOM;
    /* A buffer no larger than the text needs: a system may copy the whole buffer onto the
       receiving thread's stack, and ReactOS fails that copy for a large one. */
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS,
                            &room) && room < TEXT_ROOM)
        room++;
    else
        room = TEXT_ROOM;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, room, (LPARAM)text, SMTO_ABORTIFHUNG,
                             REPLY_TIMEOUT_MS, &length))
        length = 0;
    if (length > room - 1)
        length = room - 1;
    PrintEscapedWide(out, text, (int)length);
}

static void PrintRect(FILE *out, const char *name, RECT r)
{
    fprintf(out, "\t%s=%ld,%ld,%ld,%ld", name, r.left, r.top, r.right, r.bottom);
}

/* The fields windows and controls share, class= to rect=; the class name is left in className. */
static void PrintShown(FILE *out, HWND window, const char *textName, char className[256])
{
    RECT rect;
    className[0] = 0;
    GetClassNameA(window, className, 256);
    GetWindowRect(window, &rect);
    fprintf(out, "\tclass=%s\t%s=", className, textName);
    PrintWindowText(out, window);
    fprintf(out, "\tvisible=%d\tenabled=%d", IsWindowVisible(window) ? 1 : 0,
            IsWindowEnabled(window) ? 1 : 0);
    PrintRect(out, "rect", rect);
}

void WindumpItemsThroughOwnBuffer(BOOL on)
{
    ItemsThroughOwnBuffer = on;
}

/* Item index of list into text through a buffer in the list box's process; its length, or 0. */
static DWORD_PTR ItemThroughOwnBuffer(HWND list, DWORD_PTR index, WCHAR *text, DWORD_PTR length)
{
    DWORD pid = 0;
    HANDLE process;
    void *buffer;
    DWORD_PTR got = 0, result = 0;
    SIZE_T size = (length + 1) * sizeof(WCHAR);
    GetWindowThreadProcessId(list, &pid);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        return 0;
    buffer = VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    if (buffer && SendMessageTimeoutW(list, LB_GETTEXT, index, (LPARAM)buffer, SMTO_ABORTIFHUNG,
                                      REPLY_TIMEOUT_MS, &got) &&
        got <= length && ReadProcessMemory(process, buffer, text, size, NULL))
        result = got;
    if (buffer)
        VirtualFreeEx(process, buffer, 0, MEM_RELEASE);
    CloseHandle(process);
    return result;
}

/* Wine answers LB_GETTEXT across processes in UTF-16 whatever the caller's character set. */
static void PrintListItems(FILE *out, HWND list)
{
    static WCHAR text[TEXT_ROOM];
    DWORD_PTR count = 0, i;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS, &count) ||
        (LONG_PTR)count < 0)
        return;
    for (i = 0; i < count; i++) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS,
                                 &length) || length >= TEXT_ROOM)
            length = 0;
        if (length > 0 && ItemsThroughOwnBuffer)
            length = ItemThroughOwnBuffer(list, i, text, length);
        else if (length > 0 && !SendMessageTimeoutW(list, LB_GETTEXT, i, (LPARAM)text,
                                                    SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS, &length))
            length = 0;
        if (length >= TEXT_ROOM)
            length = 0;
        fprintf(out, "item\thwnd=%#lx\tindex=%lu\ttext=", NUMBER(list), (unsigned long)i);
        PrintEscapedWide(out, text, (int)length);
        putc('\n', out);
    }
}

/* What the enumeration callbacks write to, and which windows they take. */
typedef struct Dump { FILE *out; const char *exe; DWORD pid; HWND top; } Dump;

static BOOL CALLBACK PrintControl(HWND control, LPARAM context)
{
    const Dump *dump = (const Dump *)context;
    char className[256];
    fprintf(dump->out, "control\ttop=%#lx\thwnd=%#lx\tparent=%#lx\tid=%d", NUMBER(dump->top),
            NUMBER(control), NUMBER(GetParent(control)), GetDlgCtrlID(control));
    PrintShown(dump->out, control, "text", className);
    fprintf(dump->out, "\tstyle=%#lx\n", (unsigned long)GetWindowLongA(control, GWL_STYLE));
    if (lstrcmpiA(className, "ListBox") == 0)
        PrintListItems(dump->out, control);
    return TRUE;
}

static BOOL CALLBACK PrintTopLevel(HWND window, LPARAM context)
{
    Dump *dump = (Dump *)context;
    char className[256];
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(window, &pid);
    const char *exe = WindumpProcessName(pid);
    GUITHREADINFO gui = {.cbSize = sizeof(gui)};
    RECT client;
    if ((dump->exe && lstrcmpiA(exe, dump->exe) != 0) || (dump->pid && pid != dump->pid))
        return TRUE;
    GetClientRect(window, &client);
    MapWindowPoints(window, NULL, (POINT *)&client, 2);
    if (!GetGUIThreadInfo(thread, &gui))
        memset(&gui, 0, sizeof(gui));
    fprintf(dump->out, "window\thwnd=%#lx\tpid=%lu\texe=%s", NUMBER(window), (unsigned long)pid, exe);
    PrintShown(dump->out, window, "title", className);
    PrintRect(dump->out, "client", client);
    /* Wine keeps the X window of each top-level window as a window property: the tests give
       it the X input focus, as a window manager would. */
    fprintf(dump->out, "\tstyle=%#lx\towner=%#lx\tfocus=%#lx\tactive=%#lx\txwin=%#lx\n",
            (unsigned long)GetWindowLongA(window, GWL_STYLE), NUMBER(GetWindow(window, GW_OWNER)),
            NUMBER(gui.hwndFocus), NUMBER(gui.hwndActive),
            NUMBER(GetPropA(window, "__wine_x11_whole_window")));
    dump->top = window;
    EnumChildWindows(window, PrintControl, (LPARAM)dump);
    return TRUE;
}

void WindumpWindows(FILE *out, const char *exe, DWORD pid)
{
    Dump dump = {out, exe, pid, NULL};
    WindumpLoadProcesses();
    EnumWindows(PrintTopLevel, (LPARAM)&dump);
}
