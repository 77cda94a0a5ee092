/* qvdrive: in the ReactOS guest, has QVDUMP.EXE record the machine and uses Qorvalin as a user
   would. */
#include "windump.h"

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "../../report/controls.h"

/*
 * Started at logon with no arguments, it writes its records to COM2 and takes the runs from
 * the host's answer to its greeting; the program is \QORVALIN.EXE on the first CD drive that
 * has it, the recorder \QVDUMP.EXE likewise. A SHOW is how the program is started: normal,
 * maximized, minnoactive or hide.
 *
 * Records, one a line, fields separated by TABs, lines ending in CR LF; texts escaped as the
 * window lines escape them, handles as C's %#lx (0 for none), Windows error codes in decimal.
 * This is the one format both guests report in (the Debian guest's job writes its runs so
 * too, and the host reads them with harness/guest.py's parse):
 *   qvdrive  hello                                  (then the host answers: runs SHOW,... LENGTH)
 *   qvdump   exit=N | terminated | missing          QVDUMP.EXE FILE run to its end
 *   scenario TEXT                                   each line of the file it wrote
 *   exe      path=PATH | missing
 *   run      show=SHOW
 *   start    ok=1 pid=N | ok=0 error=E
 *   input    key=NAME target=H foreground=0|1 | click=NAME x=N y=N
 *   snapshot STAGE, then windump.h's window lines of the program's process, then: end
 *            (splash, escape, verdict, details, about, about-closed)
 *   pause    details                                on COM2 only: the host answers "go" once it
 *                                                   has its picture of the expanded window
 * On COM2, the lines the host answers are repeated until it does.
 *   note     TEXT                                   what did not go as a user's action would
 *   exit     code=N | terminated
 *   qvdrive  done
 */

#define MAX_RUNS 16
/* Software emulation makes everything slow: the waits are generous, but every one ends. */
#define POLL_MS 200
#define HOST_ANSWER_MS 60000
#define ASK_TRIES 20
#define SPLASH_MS 30000
#define CONTINUE_MS 10000
#define VERDICT_MS 60000
#define DETAILS_MS 5000
#define ABOUT_MS 10000
#define CLICKABLE_MS 5000
#define EXIT_MS 20000
#define QVDUMP_MS 120000
#define KEY_ANSWER_MS 10000
#define SETTLE_MS 500

static FILE *Out;
/* COM2, where the records go and the host's answers come back. */
static HANDLE Port = INVALID_HANDLE_VALUE;

static void End(void)
{
    putc('\n', Out);
    fflush(Out);
}

static void Note(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    text[sizeof(text) - 1] = 0;
    fputs("note\t", Out);
    WindumpEscaped(Out, text, (int)strlen(text));
    End();
}

/* ---- The port: the records out, the host's answer in ---- */

static FILE *OpenPort(HANDLE *port)
{
    DCB dcb;
    COMMTIMEOUTS timeouts;
    int fd;
    FILE *stream;
    *port = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (*port == INVALID_HANDLE_VALUE)
        return NULL;
    memset(&dcb, 0, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (GetCommState(*port, &dcb)) {
        dcb.BaudRate = CBR_115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        SetCommState(*port, &dcb);
    }
    /* A read returns after a second at most, so that waiting for the host stays bounded; a
       write that nothing drains gives up instead of holding the boot. */
    memset(&timeouts, 0, sizeof(timeouts));
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutConstant = 10000;
    SetCommTimeouts(*port, &timeouts);
    /* In text mode the C library ends each line with CR LF, as the window reader's are. */
    fd = _open_osfhandle((intptr_t)*port, _O_TEXT);
    stream = fd < 0 ? NULL : _fdopen(fd, "w");
    if (!stream) {
        CloseHandle(*port);
        *port = INVALID_HANDLE_VALUE;
    }
    return stream;
}

/* The rest of the host's next line that starts with prefix (the host's other lines are
   skipped); false when none came within ms. */
static BOOL ReadHostLine(HANDLE port, const char *prefix, char *rest, int room, DWORD ms)
{
    char line[256];
    int length = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        char c;
        DWORD got = 0;
        if (!ReadFile(port, &c, 1, &got, NULL)) {
            Sleep(POLL_MS);
            continue;
        }
        if (got == 0 || c == '\r')
            continue;
        if (c != '\n') {
            if (length < (int)sizeof(line) - 1)
                line[length++] = c;
            continue;
        }
        line[length] = 0;
        length = 0;
        if (strncmp(line, prefix, strlen(prefix)) == 0) {
            lstrcpynA(rest, line + strlen(prefix), room);
            return TRUE;
        }
    }
    return FALSE;
}

/* Writes request and reads the rest of the host's answer, the line that starts with prefix.
   The request is repeated until the answer comes: on ReactOS a byte from the host can stay
   unnoticed in the port until the port is written to again. */
static BOOL AskHost(const char *request, const char *prefix, char *rest, int room)
{
    int i;
    for (i = 0; i < ASK_TRIES; i++) {
        fputs(request, Out);
        End();
        if (ReadHostLine(Port, prefix, rest, room, HOST_ANSWER_MS / ASK_TRIES))
            return TRUE;
    }
    return FALSE;
}

/* ---- What the system answers ---- */

#define NT_KEY "Software\\Microsoft\\Windows NT\\CurrentVersion"
#define WIN9X_KEY "Software\\Microsoft\\Windows\\CurrentVersion"

/* A value under HKEY_LOCAL_MACHINE, read with the access the program asks for (a key it may
   not query is a key it cannot read); *opened tells whether the key opened. */
static LONG ReadValue(const char *path, const char *name, BYTE *value, DWORD *size, DWORD *type,
                      BOOL *opened)
{
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key);
    *opened = status == ERROR_SUCCESS;
    if (!*opened)
        return status;
    status = RegQueryValueExA(key, name, NULL, type, value, size);
    RegCloseKey(key);
    return status;
}

/* ReactOS, which hands LB_GETTEXT's address to the list box's process unchanged. */
static BOOL IsReactOS(void)
{
    char name[64] = "";
    DWORD size = sizeof(name) - 1;
    DWORD type = 0;
    BOOL opened;
    return ReadValue(NT_KEY, "ProductName", (BYTE *)name, &size, &type, &opened) ==
               ERROR_SUCCESS && strncmp(name, "ReactOS", 7) == 0;
}

/* \NAME on the first CD drive that has it, as the CD's user would find it. */
static BOOL FindOnCd(const char *name, char *path)
{
    char letter;
    for (letter = 'C'; letter <= 'Z'; letter++) {
        char root[] = "C:\\";
        root[0] = letter;
        if (GetDriveTypeA(root) != DRIVE_CDROM)
            continue;
        wsprintfA(path, "%c:\\%s", letter, name);
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return TRUE;
    }
    return FALSE;
}

/* What QVDUMP.EXE writes into the pipe, read by a thread of its own while it runs. */
typedef struct Recording {
    HANDLE pipe;
    char *text;
    DWORD size;
} Recording;

#define PIPE_NAME "\\\\.\\pipe\\qvdump"
#define RECORDING_ROOM (4 << 20)

static DWORD WINAPI ReadRecording(LPVOID context)
{
    Recording *recording = (Recording *)context;
    DWORD got;
    ConnectNamedPipe(recording->pipe, NULL);
    while (recording->size < RECORDING_ROOM &&
           ReadFile(recording->pipe, recording->text + recording->size,
                    RECORDING_ROOM - recording->size, &got, NULL) && got > 0)
        recording->size += got;
    return 0;
}

/* The machine as QVDUMP.EXE from the release CD records it, started as a batch file would
   start it, with a file to write: the live CD has no folder it may write to, so the file is a
   pipe whose other end this program reads. Each line of it goes to the host as a record. */
static void RecordWithQvdump(void)
{
    char exe[MAX_PATH];
    char commandLine[MAX_PATH + 64];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    Recording recording;
    HANDLE reader;
    DWORD code = 0;
    char *line;
    if (!FindOnCd("QVDUMP.EXE", exe)) {
        fputs("qvdump\tmissing", Out);
        End();
        return;
    }
    recording.size = 0;
    recording.text = (char *)malloc(RECORDING_ROOM + 1);
    recording.pipe = CreateNamedPipeA(PIPE_NAME, PIPE_ACCESS_INBOUND,
                                      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536,
                                      65536, 0, NULL);
    if (!recording.text || recording.pipe == INVALID_HANDLE_VALUE) {
        Note("no pipe for QVDUMP.EXE: error %lu", GetLastError());
        free(recording.text);
        return;
    }
    reader = CreateThread(NULL, 0, ReadRecording, &recording, 0, NULL);
    wsprintfA(commandLine, "\"%s\" %s", exe, PIPE_NAME);
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!reader || !CreateProcessA(exe, commandLine, NULL, NULL, FALSE,
                                   CREATE_DEFAULT_ERROR_MODE, NULL, NULL, &startup, &process)) {
        Note("QVDUMP.EXE did not start: error %lu", GetLastError());
        process.hProcess = process.hThread = NULL;
    } else if (WaitForSingleObject(process.hProcess, QVDUMP_MS) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
        fprintf(Out, "qvdump\texit=%lu", code);
        End();
    } else {
        TerminateProcess(process.hProcess, 1);
        fputs("qvdump\tterminated", Out);
        End();
    }
    if (reader) {
        /* A QVDUMP that never opened the pipe leaves the reader waiting for a client: this
           program becomes the client, and its close ends the reading. */
        if (WaitForSingleObject(reader, 5000) != WAIT_OBJECT_0) {
            HANDLE client = CreateFileA(PIPE_NAME, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0,
                                        NULL);
            if (client != INVALID_HANDLE_VALUE)
                CloseHandle(client);
            WaitForSingleObject(reader, 5000);
        }
        CloseHandle(reader);
    }
    if (process.hProcess) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(recording.pipe);
    recording.text[recording.size] = 0;
    for (line = strtok(recording.text, "\r\n"); line; line = strtok(NULL, "\r\n")) {
        fputs("scenario\t", Out);
        WindumpEscaped(Out, line, (int)strlen(line));
        End();
    }
    free(recording.text);
}

/* ---- The user: eyes ---- */

typedef struct Program {
    PROCESS_INFORMATION process;
    /* The program's windows as last seen: the main dialog (unowned, with the Details list),
       the splash (owned, with Continue) and the About box (owned by the main dialog, with
       OK). */
    HWND main, splash, about;
    /* The splash as first seen, whose end is the sign that the user's Continue went home. */
    HWND firstSplash;
    /* The splash's focus before a key that moves it. */
    HWND focusBefore;
} Program;

static BOOL CALLBACK NoteWindow(HWND window, LPARAM context)
{
    Program *program = (Program *)context;
    DWORD pid = 0;
    HWND owner;
    GetWindowThreadProcessId(window, &pid);
    if (pid != program->process.dwProcessId)
        return TRUE;
    owner = GetWindow(window, GW_OWNER);
    if (!owner && GetDlgItem(window, IDC_DETAILS_LIST))
        program->main = window;
    else if (owner && GetDlgItem(window, IDC_CONTINUE))
        program->splash = window;
    else if (owner && GetDlgItem(window, IDOK))
        program->about = window;
    return TRUE;
}

static void Look(Program *program)
{
    program->main = program->splash = program->about = NULL;
    EnumWindows(NoteWindow, (LPARAM)program);
    /* The About box is the one owned by the main dialog, not another program's window. */
    if (program->about && GetWindow(program->about, GW_OWNER) != program->main)
        program->about = NULL;
}

static BOOL Ended(const Program *program)
{
    return WaitForSingleObject(program->process.hProcess, 0) == WAIT_OBJECT_0;
}

typedef BOOL (*Condition)(const Program *program);

/* Polls until the condition holds or the time is up. */
static BOOL WaitFor(Program *program, Condition condition, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        Look(program);
        if (condition(program))
            return TRUE;
        if (Ended(program) || GetTickCount() - start >= milliseconds)
            return FALSE;
        Sleep(POLL_MS);
    }
}

/* Sizes, visibility and focus arrive through the program's message loop: let it catch up. */
static void Settle(Program *program)
{
    WaitForInputIdle(program->process.hProcess, 2000);
    Sleep(SETTLE_MS);
    Look(program);
}

static HWND SplashFocus(const Program *program)
{
    GUITHREADINFO gui;
    memset(&gui, 0, sizeof(gui));
    gui.cbSize = sizeof(gui);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(program->firstSplash, NULL), &gui))
        return NULL;
    return gui.hwndFocus;
}

static BOOL FocusMovedOrSplashGone(const Program *program)
{
    return program->splash != program->firstSplash || SplashFocus(program) != program->focusBefore;
}

static void Snapshot(Program *program, const char *stage)
{
    Settle(program);
    fprintf(Out, "snapshot\t%s\n", stage);
    WindumpWindows(Out, NULL, program->process.dwProcessId);
    fputs("end", Out);
    End();
}

static BOOL SplashShown(const Program *program)
{
    return program->splash && IsWindowVisible(program->splash);
}

static BOOL SplashExists(const Program *program)
{
    return program->splash != NULL;
}

static BOOL Continued(const Program *program)
{
    return !IsWindow(program->firstSplash) || (program->main && IsWindowVisible(program->main));
}

/* The main dialog shows once the checks are done; one started hidden may stay hidden, but it
   answers for its headline only after the checks, with the splash gone. */
static BOOL VerdictShown(const Program *program)
{
    DWORD_PTR length = 0;
    if (!program->main)
        return FALSE;
    if (IsWindowVisible(program->main))
        return TRUE;
    return !program->splash &&
           SendMessageTimeoutA(GetDlgItem(program->main, IDC_HEADLINE), WM_GETTEXTLENGTH, 0, 0,
                               SMTO_ABORTIFHUNG, 1000, &length) &&
           length > 0;
}

static BOOL DetailsShown(const Program *program)
{
    return program->main && IsWindowVisible(GetDlgItem(program->main, IDC_DETAILS_LIST));
}

static BOOL AboutShown(const Program *program)
{
    return program->about && IsWindowVisible(program->about);
}

static BOOL AboutGone(const Program *program)
{
    return program->about == NULL;
}

/* ---- The user: hands ---- */

static BOOL IsForeground(HWND window, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetForegroundWindow() != window) {
        if (GetTickCount() - start >= milliseconds)
            return FALSE;
        Sleep(50);
    }
    return TRUE;
}

/* What a user's click on a window does. Windows and ReactOS give the foreground only to the
   process that made the last input (or owns the foreground): a zero mouse move makes this
   process that one; attaching to the foreground thread's input is the second try. */
static BOOL BringToFront(HWND window)
{
    INPUT nudge;
    HWND front;
    DWORD frontThread, self;
    BOOL attached;
    memset(&nudge, 0, sizeof(nudge));
    nudge.type = INPUT_MOUSE;
    nudge.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &nudge, sizeof(nudge));
    SetForegroundWindow(window);
    if (IsForeground(window, 1000))
        return TRUE;
    front = GetForegroundWindow();
    frontThread = front ? GetWindowThreadProcessId(front, NULL) : 0;
    self = GetCurrentThreadId();
    attached = frontThread && frontThread != self && AttachThreadInput(self, frontThread, TRUE);
    SetForegroundWindow(window);
    BringWindowToTop(window);
    if (attached)
        AttachThreadInput(self, frontThread, FALSE);
    return IsForeground(window, 1000);
}

static void SendKey(WORD key, BOOL up)
{
    INPUT input;
    memset(&input, 0, sizeof(input));
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = (WORD)MapVirtualKeyA(key, 0);
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
}

/* A key into the window, only once it is in front: otherwise the key would reach whatever
   is, the desktop included. */
static BOOL PressKey(HWND window, WORD key, const char *name)
{
    BOOL front = BringToFront(window);
    fprintf(Out, "input\tkey=%s\ttarget=%#lx\tforeground=%d", name,
            (unsigned long)(ULONG_PTR)window, front ? 1 : 0);
    End();
    if (!front)
        return FALSE;
    SendKey(key, FALSE);
    Sleep(50);
    SendKey(key, TRUE);
    return TRUE;
}

static void SendButton(DWORD flags)
{
    INPUT input;
    memset(&input, 0, sizeof(input));
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

/* Where a click on the control lands on it: its centre, when nothing covers it there. */
static BOOL Clickable(HWND control, POINT *centre)
{
    RECT rect;
    if (!control || !IsWindowVisible(control) || !IsWindowEnabled(control) ||
        !GetWindowRect(control, &rect))
        return FALSE;
    centre->x = (rect.left + rect.right) / 2;
    centre->y = (rect.top + rect.bottom) / 2;
    return WindowFromPoint(*centre) == control;
}

/* Clicks the dialog's button with the mouse; a dialog hidden, minimised or covered is first
   brought to the front. One that still cannot be clicked gets the button's command, so that
   the boot goes on; the note says so. */
static void Click(Program *program, HWND dialog, int id, const char *name)
{
    HWND control = GetDlgItem(dialog, id);
    DWORD start = GetTickCount();
    BOOL fronted = FALSE;
    POINT at;
    while (!Clickable(control, &at)) {
        if (!fronted) {
            BringToFront(dialog);
            fronted = TRUE;
            continue;
        }
        if (GetTickCount() - start >= CLICKABLE_MS || Ended(program)) {
            Note("%s by message", name);
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
            return;
        }
        Sleep(POLL_MS);
    }
    fprintf(Out, "input\tclick=%s\tx=%ld\ty=%ld", name, at.x, at.y);
    End();
    SetCursorPos(at.x, at.y);
    Sleep(100);
    SendButton(MOUSEEVENTF_LEFTDOWN);
    Sleep(50);
    SendButton(MOUSEEVENTF_LEFTUP);
}

/* Escape on the splash, which must do nothing. That it has been handled shows in the program's
   answer to the keys after it: Tab moves the focus to Close only once the Escape before it has
   been dealt with, and a second Tab puts it back on Continue for Enter. */
static void PressEscapeOnSplash(Program *program)
{
    int tab;
    PressKey(program->firstSplash, VK_ESCAPE, "escape");
    for (tab = 0; tab < 2; tab++) {
        program->focusBefore = SplashFocus(program);
        if (!PressKey(program->firstSplash, VK_TAB, "tab") ||
            !WaitFor(program, FocusMovedOrSplashGone, KEY_ANSWER_MS))
            Note("tab on the splash was not answered within %d s", KEY_ANSWER_MS / 1000);
        if (tab == 0)
            Snapshot(program, "escape");
        if (program->splash != program->firstSplash || Ended(program))
            return;
    }
}

/* Enter on the splash, as a user continues; then the mouse on Continue; then its command. */
static void ContinueFromSplash(Program *program)
{
    if (PressKey(program->firstSplash, VK_RETURN, "return") &&
        WaitFor(program, Continued, CONTINUE_MS))
        return;
    Note("enter did not continue");
    if (Continued(program) || Ended(program))
        return;
    Click(program, program->firstSplash, IDC_CONTINUE, "continue");
    if (WaitFor(program, Continued, CONTINUE_MS) || Ended(program))
        return;
    Note("continue by message");
    PostMessageA(program->firstSplash, WM_COMMAND, MAKEWPARAM(IDC_CONTINUE, BN_CLICKED),
                 (LPARAM)GetDlgItem(program->firstSplash, IDC_CONTINUE));
}

/* ---- The runs ---- */

static const struct Show {
    const char *name;
    WORD command;
} Shows[] = {
    {"normal", SW_SHOWNORMAL},
    {"maximized", SW_SHOWMAXIMIZED},
    {"minnoactive", SW_SHOWMINNOACTIVE},
    {"hide", SW_HIDE},
};

/* The stages a user goes through with a normal window: Escape on the splash, "Details >>",
   the About box. */
static void LookAround(Program *program)
{
    char go[8];
    Click(program, program->main, IDC_DETAILS, "details");
    if (!WaitFor(program, DetailsShown, DETAILS_MS))
        Note("the details list did not show within %d s", DETAILS_MS / 1000);
    Snapshot(program, "details");
    if (Ended(program))
        return;
    /* The host takes its picture of the expanded window before anything covers it. */
    if (!AskHost("pause\tdetails", "go", go, sizeof(go)))
        Note("the host did not answer the pause within %d s", HOST_ANSWER_MS / 1000);
    Click(program, program->main, IDC_ABOUT, "about");
    if (!WaitFor(program, AboutShown, ABOUT_MS)) {
        Note("no about box within %d s", ABOUT_MS / 1000);
        return;
    }
    Snapshot(program, "about");
    Click(program, program->about, IDOK, "ok");
    if (!WaitFor(program, AboutGone, ABOUT_MS))
        Note("the about box stayed for %d s", ABOUT_MS / 1000);
    Snapshot(program, "about-closed");
}

static void Run(const char *exe, const struct Show *show)
{
    char commandLine[MAX_PATH + 3];
    char folder[MAX_PATH];
    char *slash;
    STARTUPINFOA startup;
    Program program;
    BOOL normal = show->command == SW_SHOWNORMAL;
    HWND closeOn;

    fprintf(Out, "run\tshow=%s", show->name);
    End();
    memset(&program, 0, sizeof(program));
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show->command;
    wsprintfA(commandLine, "\"%s\"", exe);
    /* Started from its own folder, as from a double click on it. */
    lstrcpynA(folder, exe, sizeof(folder));
    slash = strrchr(folder, '\\');
    if (slash)
        slash[slash > folder && slash[-1] == ':' ? 1 : 0] = 0;
    if (!CreateProcessA(exe, commandLine, NULL, NULL, FALSE, CREATE_DEFAULT_ERROR_MODE, NULL,
                        slash ? folder : NULL, &startup, &program.process)) {
        fprintf(Out, "start\tok=0\terror=%lu", GetLastError());
        End();
        return;
    }
    CloseHandle(program.process.hThread);
    fprintf(Out, "start\tok=1\tpid=%lu", program.process.dwProcessId);
    End();
    AllowSetForegroundWindow(program.process.dwProcessId);

    if (!WaitFor(&program, normal ? SplashShown : SplashExists, SPLASH_MS))
        Note("no splash within %d s", SPLASH_MS / 1000);
    program.firstSplash = program.splash;
    Snapshot(&program, "splash");
    if (normal && program.firstSplash && !Ended(&program))
        PressEscapeOnSplash(&program);
    if (program.firstSplash && !Ended(&program))
        ContinueFromSplash(&program);
    if (!WaitFor(&program, VerdictShown, VERDICT_MS))
        Note("no verdict within %d s", VERDICT_MS / 1000);
    Snapshot(&program, "verdict");
    if (normal && program.main && IsWindowVisible(program.main) && !Ended(&program))
        LookAround(&program);

    Look(&program);
    closeOn = program.main ? program.main : program.splash;
    if (closeOn && !Ended(&program))
        Click(&program, closeOn, IDC_CLOSE, "close");
    if (WaitForSingleObject(program.process.hProcess, EXIT_MS) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(program.process.hProcess, &code);
        fprintf(Out, "exit\tcode=%lu", code);
    } else {
        Note("the program did not end within %d s", EXIT_MS / 1000);
        TerminateProcess(program.process.hProcess, 1);
        WaitForSingleObject(program.process.hProcess, 5000);
        fputs("exit\tterminated", Out);
    }
    End();
    CloseHandle(program.process.hProcess);
}

/* The runs' shows from "SHOW,SHOW..."; unknown names are noted and left out. */
static int ParseRuns(char *list, const struct Show **runs)
{
    int count = 0;
    char *name = list;
    while (name && *name) {
        char *comma = strchr(name, ',');
        size_t i;
        if (comma)
            *comma = 0;
        for (i = 0; i < sizeof(Shows) / sizeof(Shows[0]); i++)
            if (strcmp(name, Shows[i].name) == 0)
                break;
        if (i == sizeof(Shows) / sizeof(Shows[0]))
            Note("unknown show %s", name);
        else if (count < MAX_RUNS)
            runs[count++] = &Shows[i];
        name = comma ? comma + 1 : NULL;
    }
    return count;
}

/* The host's list ends with its own length, as bytes from the host can go missing on the way:
   true, and the length cut off, when it came whole. */
static BOOL WholeList(char *list)
{
    char *tab = strrchr(list, '\t');
    if (!tab || strspn(tab + 1, "0123456789") != strlen(tab + 1) || tab[1] == 0)
        return FALSE;
    *tab = 0;
    return strlen(list) == (size_t)atoi(tab + 1);
}

int main(void)
{
    char list[256] = "";
    char exe[MAX_PATH];
    const struct Show *runs[MAX_RUNS];
    int count;
    int i;

    /* No "insert a disk" box from an empty drive while the drives are searched. */
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    Out = OpenPort(&Port);
    if (!Out) {
        fputs("qvdrive: cannot open COM2\n", stderr);
        return 1;
    }
    for (i = 0; i < ASK_TRIES; i++) {
        if (!AskHost("qvdrive\thello", "runs\t", list, sizeof(list))) {
            Note("no runs from the host within %d s", HOST_ANSWER_MS / 1000);
            list[0] = 0;
            break;
        }
        if (WholeList(list))
            break;
        Note("the runs came with bytes missing");
    }
    count = ParseRuns(list, runs);
    if (count == 0)
        runs[count++] = &Shows[0];

    WindumpItemsThroughOwnBuffer(IsReactOS());
    RecordWithQvdump();
    fflush(Out);

    if (FindOnCd("QORVALIN.EXE", exe)) {
        fputs("exe\tpath=", Out);
        WindumpEscaped(Out, exe, (int)strlen(exe));
        End();
        for (i = 0; i < count; i++)
            Run(exe, runs[i]);
    } else {
        fputs("exe\tmissing", Out);
        End();
    }

    fputs("qvdrive\tdone", Out);
    End();
    FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(Out)));
    fclose(Out);
    return 0;
}
