/* winspy: a test-only helper that prints what another process's windows show, one line each. */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

/*
 * Usage: winspy [EXE-NAME]  or  winspy --version
 * Prints every top-level window (of the processes whose image is EXE-NAME, or of all), each
 * followed by its child controls and, for list boxes, their items:
 *   window  hwnd= pid= exe= class= title= visible= enabled= rect=l,t,r,b client=l,t,r,b
 *           style= owner= focus= active= xwin=
 *   control top= hwnd= parent= id= class= text= visible= enabled= rect= style=
 *   item    hwnd= index= text=
 * With --version it prints instead the version record that GetVersionExA gives a program in
 * the same Wine session:
 *   version major= minor= build= platform= csd=
 * Fields are separated by TABs. Texts are code page 1252 with CR, LF, TAB, backslash and
 * every byte outside 0x20..0x7E escaped as the simulator escapes its report.
 */

#define TEXT_ROOM 16384
#define REPLY_TIMEOUT_MS 3000

static char ProcessNames[4096][MAX_PATH];
static DWORD ProcessIds[4096];
static int ProcessCount;

static void LoadProcessNames(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    entry.dwSize = sizeof(entry);
    if (Process32First(snapshot, &entry)) {
        do {
            if (ProcessCount == 4096)
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

/* The other process may be busy or gone: never wait on it for long. */
static void PrintEscapedWide(const WCHAR *text, int length)
{
    static char bytes[TEXT_ROOM * 2];
    int count = 0;
    int i;
    if (length > 0)
        count = WideCharToMultiByte(1252, 0, text, length, bytes, sizeof(bytes), "?", NULL);
    for (i = 0; i < count; i++) {
        unsigned char c = (unsigned char)bytes[i];
        if (c == '\r')
            fputs("\\r", stdout);
        else if (c == '\n')
            fputs("\\n", stdout);
        else if (c == '\t')
            fputs("\\t", stdout);
        else if (c == '\\')
            fputs("\\\\", stdout);
        else if (c < 0x20 || c > 0x7E)
            printf("\\x%02x", c);
        else
            putchar(c);
    }
}

static void PrintVersion(void)
{
    static WCHAR csd[128];
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) {
        puts("version\tfailed=1");
        return;
    }
    printf("version\tmajor=%lu\tminor=%lu\tbuild=%#lx\tplatform=%lu\tcsd=",
           (unsigned long)info.dwMajorVersion, (unsigned long)info.dwMinorVersion,
           (unsigned long)info.dwBuildNumber, (unsigned long)info.dwPlatformId);
    info.szCSDVersion[sizeof(info.szCSDVersion) - 1] = 0;
    PrintEscapedWide(csd, MultiByteToWideChar(CP_ACP, 0, info.szCSDVersion, -1, csd, 128) - 1);
    putchar('\n');
}

static void PrintWindowText(HWND window)
{
    static WCHAR text[TEXT_ROOM];
    DWORD_PTR length = 0;
    text[0] = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, TEXT_ROOM, (LPARAM)text, SMTO_ABORTIFHUNG,
                             REPLY_TIMEOUT_MS, &length))
        length = 0;
    if (length > TEXT_ROOM - 1)
        length = TEXT_ROOM - 1;
    PrintEscapedWide(text, (int)length);
}

static void PrintRect(const char *name, RECT r)
{
    printf("\t%s=%ld,%ld,%ld,%ld", name, r.left, r.top, r.right, r.bottom);
}

/* Wine answers LB_GETTEXT across processes in UTF-16 whatever the caller's character set. */
static void PrintListItems(HWND list)
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
        if (length > 0 && !SendMessageTimeoutW(list, LB_GETTEXT, i, (LPARAM)text, SMTO_ABORTIFHUNG,
                                               REPLY_TIMEOUT_MS, &length))
            length = 0;
        if ((LONG_PTR)length < 0 || length >= TEXT_ROOM)
            length = 0;
        printf("item\thwnd=%#lx\tindex=%lu\ttext=", (unsigned long)(ULONG_PTR)list, (unsigned long)i);
        PrintEscapedWide(text, (int)length);
        putchar('\n');
    }
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM top)
{
    char className[256];
    RECT rect;
    className[0] = 0;
    GetClassNameA(control, className, sizeof(className));
    GetWindowRect(control, &rect);
    printf("control\ttop=%#lx\thwnd=%#lx\tparent=%#lx\tid=%d\tclass=%s\ttext=",
           (unsigned long)top, (unsigned long)(ULONG_PTR)control,
           (unsigned long)(ULONG_PTR)GetParent(control), GetDlgCtrlID(control), className);
    PrintWindowText(control);
    printf("\tvisible=%d\tenabled=%d", IsWindowVisible(control) ? 1 : 0,
           IsWindowEnabled(control) ? 1 : 0);
    PrintRect("rect", rect);
    printf("\tstyle=%#lx\n", (unsigned long)GetWindowLongA(control, GWL_STYLE));
    if (lstrcmpiA(className, "ListBox") == 0)
        PrintListItems(control);
    return TRUE;
}

static const char *WantedExe;

static BOOL CALLBACK PrintTopLevel(HWND window, LPARAM unused)
{
    char className[256];
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(window, &pid);
    const char *exe = ProcessName(pid);
    GUITHREADINFO gui;
    RECT rect;
    RECT client;
    POINT origin = {0, 0};
    (void)unused;
    if (WantedExe && lstrcmpiA(exe, WantedExe) != 0)
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
    printf("window\thwnd=%#lx\tpid=%lu\texe=%s\tclass=%s\ttitle=",
           (unsigned long)(ULONG_PTR)window, (unsigned long)pid, exe, className);
    PrintWindowText(window);
    printf("\tvisible=%d\tenabled=%d", IsWindowVisible(window) ? 1 : 0,
           IsWindowEnabled(window) ? 1 : 0);
    PrintRect("rect", rect);
    PrintRect("client", client);
    /* Wine keeps the X window of each top-level window as a window property: the tests give
       it the X input focus, as a window manager would. */
    printf("\tstyle=%#lx\towner=%#lx\tfocus=%#lx\tactive=%#lx\txwin=%#lx\n",
           (unsigned long)GetWindowLongA(window, GWL_STYLE),
           (unsigned long)(ULONG_PTR)GetWindow(window, GW_OWNER),
           (unsigned long)(ULONG_PTR)gui.hwndFocus, (unsigned long)(ULONG_PTR)gui.hwndActive,
           (unsigned long)(ULONG_PTR)GetPropA(window, "__wine_x11_whole_window"));
    EnumChildWindows(window, PrintControl, (LPARAM)window);
    return TRUE;
}

int main(int argc, char **argv)
{
    if (argc > 2) {
        fputs("usage: winspy [EXE-NAME] | --version\n", stderr);
        return 2;
    }
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        PrintVersion();
        fflush(stdout);
        return 0;
    }
    WantedExe = argc == 2 ? argv[1] : NULL;
    LoadProcessNames();
    EnumWindows(PrintTopLevel, 0);
    fflush(stdout);
    return 0;
}
