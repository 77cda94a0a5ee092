/* windump: another process's windows as windump.h's lines, never waiting on it for long. */
#include "windump.h"

#include <tlhelp32.h>
#include <string.h>

#define TEXT_ROOM 16384
#define REPLY_TIMEOUT_MS 3000
#define MAX_PROCESSES 4096

static char ProcessNames[MAX_PROCESSES][MAX_PATH];
static DWORD ProcessIds[MAX_PROCESSES];
static int ProcessCount;

static void LoadProcessNames(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    ProcessCount = 0;
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof(entry);
    if (Process32First(snapshot, &entry)) {
        do {
            if (ProcessCount == MAX_PROCESSES)
                break;
            ProcessIds[ProcessCount] = entry.th32ProcessID;
            lstrcpynA(ProcessNames[ProcessCount], entry.szExeFile, MAX_PATH);
            ProcessCount++;
        } while (Process32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
}

static const char *ProcessName(DWORD pid)
{
    int i;
    for (i = 0; i < ProcessCount; i++)
        if (ProcessIds[i] == pid)
            return ProcessNames[i];
    return "";
}

void WindumpEscaped(FILE *out, const char *bytes, int count)
{
    int i;
    for (i = 0; i < count; i++) {
        unsigned char c = (unsigned char)bytes[i];
        if (c == '\r')
            fputs("\\r", out);
        else if (c == '\n')
            fputs("\\n", out);
        else if (c == '\t')
            fputs("\\t", out);
        else if (c == '\\')
            fputs("\\\\", out);
        else if (c < 0x20 || c > 0x7E)
            fprintf(out, "\\x%02x", c);
        else
            putc(c, out);
    }
}

static void PrintEscapedWide(FILE *out, const WCHAR *text, int length)
{
    static char bytes[TEXT_ROOM * 2];
    int count = 0;
    if (length > 0)
        count = WideCharToMultiByte(1252, 0, text, length, bytes, sizeof(bytes), "?", NULL);
    WindumpEscaped(out, bytes, count);
}

void WindumpVersion(FILE *out)
{
    static WCHAR csd[128];
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
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
    DWORD_PTR length = 0;
    DWORD_PTR room = TEXT_ROOM;
    text[0] = 0;
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

static BOOL ItemsThroughOwnBuffer;

void WindumpItemsThroughOwnBuffer(BOOL on)
{
    ItemsThroughOwnBuffer = on;
}

/* Item index of list into text through a buffer in the list box's process; its length, or -1. */
static LONG_PTR ItemThroughOwnBuffer(HWND list, DWORD_PTR index, WCHAR *text, DWORD_PTR length)
{
    DWORD pid = 0;
    HANDLE process;
    void *buffer;
    DWORD_PTR got = 0;
    LONG_PTR result = -1;
    SIZE_T size = (length + 1) * sizeof(WCHAR);
    GetWindowThreadProcessId(list, &pid);
    process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        return -1;
    buffer = VirtualAllocEx(process, NULL, size, MEM_COMMIT, PAGE_READWRITE);
    if (buffer && SendMessageTimeoutW(list, LB_GETTEXT, index, (LPARAM)buffer, SMTO_ABORTIFHUNG,
                                      REPLY_TIMEOUT_MS, &got) &&
        got <= length && ReadProcessMemory(process, buffer, text, size, NULL))
        result = (LONG_PTR)got;
    if (buffer)
        VirtualFreeEx(process, buffer, 0, MEM_RELEASE);
    CloseHandle(process);
    return result;
}

/* Wine answers LB_GETTEXT across processes in UTF-16 whatever the caller's character set. */
static void PrintListItems(FILE *out, HWND list)
{
    static WCHAR text[TEXT_ROOM];
    DWORD_PTR count = 0;
    DWORD_PTR i;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS, &count))
        return;
    for (i = 0; i < count && (LONG_PTR)count > 0; i++) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS,
                                 &length) || (LONG_PTR)length < 0 || length >= TEXT_ROOM)
            length = 0;
        text[0] = 0;
        if (length > 0 && ItemsThroughOwnBuffer)
            length = (DWORD_PTR)ItemThroughOwnBuffer(list, i, text, length);
        else if (length > 0 && !SendMessageTimeoutW(list, LB_GETTEXT, i, (LPARAM)text,
                                                    SMTO_ABORTIFHUNG, REPLY_TIMEOUT_MS, &length))
            length = 0;
        if ((LONG_PTR)length < 0 || length >= TEXT_ROOM)
            length = 0;
        fprintf(out, "item\thwnd=%#lx\tindex=%lu\ttext=", (unsigned long)(ULONG_PTR)list,
                (unsigned long)i);
        PrintEscapedWide(out, text, (int)length);
        putc('\n', out);
    }
}

/* What the enumeration callbacks write to, and which windows they take. */
typedef struct Dump {
    FILE *out;
    const char *exe;
    DWORD pid;
    HWND top;
} Dump;

static BOOL CALLBACK PrintControl(HWND control, LPARAM context)
{
    const Dump *dump = (const Dump *)context;
    FILE *out = dump->out;
    char className[256];
    RECT rect;
    className[0] = 0;
    GetClassNameA(control, className, sizeof(className));
    GetWindowRect(control, &rect);
    fprintf(out, "control\ttop=%#lx\thwnd=%#lx\tparent=%#lx\tid=%d\tclass=%s\ttext=",
            (unsigned long)(ULONG_PTR)dump->top, (unsigned long)(ULONG_PTR)control,
            (unsigned long)(ULONG_PTR)GetParent(control), GetDlgCtrlID(control), className);
    PrintWindowText(out, control);
    fprintf(out, "\tvisible=%d\tenabled=%d", IsWindowVisible(control) ? 1 : 0,
            IsWindowEnabled(control) ? 1 : 0);
    PrintRect(out, "rect", rect);
    fprintf(out, "\tstyle=%#lx\n", (unsigned long)GetWindowLongA(control, GWL_STYLE));
    if (lstrcmpiA(className, "ListBox") == 0)
        PrintListItems(out, control);
    return TRUE;
}

static BOOL CALLBACK PrintTopLevel(HWND window, LPARAM context)
{
    Dump *dump = (Dump *)context;
    FILE *out = dump->out;
    char className[256];
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(window, &pid);
    const char *exe = ProcessName(pid);
    GUITHREADINFO gui;
    RECT rect;
    RECT client;
    POINT origin = {0, 0};
    if (dump->exe && lstrcmpiA(exe, dump->exe) != 0)
        return TRUE;
    if (dump->pid && pid != dump->pid)
        return TRUE;
    className[0] = 0;
    GetClassNameA(window, className, sizeof(className));
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    ClientToScreen(window, &origin);
    OffsetRect(&client, origin.x, origin.y);
    memset(&gui, 0, sizeof(gui));
    gui.cbSize = sizeof(gui);
    if (!GetGUIThreadInfo(thread, &gui))
        memset(&gui, 0, sizeof(gui));
    fprintf(out, "window\thwnd=%#lx\tpid=%lu\texe=%s\tclass=%s\ttitle=",
            (unsigned long)(ULONG_PTR)window, (unsigned long)pid, exe, className);
    PrintWindowText(out, window);
    fprintf(out, "\tvisible=%d\tenabled=%d", IsWindowVisible(window) ? 1 : 0,
            IsWindowEnabled(window) ? 1 : 0);
    PrintRect(out, "rect", rect);
    PrintRect(out, "client", client);
    /* Wine keeps the X window of each top-level window as a window property: the tests give
       it the X input focus, as a window manager would. */
    fprintf(out, "\tstyle=%#lx\towner=%#lx\tfocus=%#lx\tactive=%#lx\txwin=%#lx\n",
            (unsigned long)GetWindowLongA(window, GWL_STYLE),
            (unsigned long)(ULONG_PTR)GetWindow(window, GW_OWNER),
            (unsigned long)(ULONG_PTR)gui.hwndFocus, (unsigned long)(ULONG_PTR)gui.hwndActive,
            (unsigned long)(ULONG_PTR)GetPropA(window, "__wine_x11_whole_window"));
    dump->top = window;
    EnumChildWindows(window, PrintControl, (LPARAM)dump);
    return TRUE;
}

void WindumpWindows(FILE *out, const char *exe, DWORD pid)
{
    Dump dump;
    dump.out = out;
    dump.exe = exe;
    dump.pid = pid;
    dump.top = NULL;
    LoadProcessNames();
    EnumWindows(PrintTopLevel, (LPARAM)&dump);
}
