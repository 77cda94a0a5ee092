// QVDUMP.EXE: records what this computer answers to Qorvalin's questions as a scenario file,
// written to the file named on the command line or, without one, to the file the user picks.
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include "dump/messages.h"
#include "dump/record.h"
#include "platform/win32/win32.h"

#include <string.h>

enum {
    TEXT_SIZE = 256,      // one catalogue text
    MESSAGE_SIZE = 1024,  // a message box's text
};

// Exit codes.
enum {
    EXIT_WRITTEN = 0,
    EXIT_NOT_WRITTEN = 1,
    EXIT_CANCELLED = 2,
};

// The recording, grown in the process heap as the recorder writes it, with Windows line ends.
struct Recording {
    char *text;
    DWORD size;
    DWORD room;
    bool outOfMemory;
};

static void Collect(void *context, const char *text, uint32_t size)
{
    Recording *recording = (Recording *)context;
    for (uint32_t i = 0; i < size && !recording->outOfMemory; ++i) {
        // Room for a CR and the character.
        if (recording->size + 2 > recording->room) {
            DWORD room = recording->room == 0 ? 65536 : recording->room * 2;
            void *grown = recording->text == NULL
                              ? HeapAlloc(GetProcessHeap(), 0, room)
                              : HeapReAlloc(GetProcessHeap(), 0, recording->text, room);
            if (grown == NULL) {
                recording->outOfMemory = true;
                return;
            }
            recording->text = (char *)grown;
            recording->room = room;
        }
        if (text[i] == '\n')
            recording->text[recording->size++] = '\r';
        recording->text[recording->size++] = text[i];
    }
}

static void LoadText(UINT number, char *text)
{
    if (LoadStringA(GetModuleHandleA(NULL), number, text, TEXT_SIZE) == 0)
        text[0] = '\0';
}

// Adds a paragraph of the catalogue, or the text given, to a message box's text.
static void AddParagraph(char *text, UINT number, const char *given = NULL)
{
    char loaded[TEXT_SIZE];
    if (given == NULL) {
        LoadText(number, loaded);
        given = loaded;
    }
    if (strlen(text) + 4 + strlen(given) < MESSAGE_SIZE) {
        strcat(text, "\r\n\r\n");
        strcat(text, given);
    }
}

static void Tell(UINT icon, const char *text)
{
    char title[TEXT_SIZE];
    LoadText(MSG_DUMP_TITLE, title);
    MessageBoxA(NULL, text, title, MB_OK | icon);
}

// What a write ended with, besides the system's errors.
enum : DWORD {
    WRITTEN = 0,
    NOT_A_RECORDING = 0xFFFFFFFF,  // the file is there and is the user's: it was left alone
};

// The existing file at path, opened for rewriting when it is a recording or empty (then
// *shorten: its old end must go), or a pipe or device; else NOT_A_RECORDING or the system's
// error, with the file as it was.
static DWORD OpenOwnFile(const char *path, HANDLE *file, bool *shorten)
{
    *file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, NULL);
    if (*file == INVALID_HANDLE_VALUE)
        return GetLastError();
    // A pipe or a device holds no file of the user's, and a read could wait on it for ever.
    if (GetFileType(*file) != FILE_TYPE_DISK)
        return WRITTEN;
    *shorten = true;
    // Room for the head with a CR before each of its line ends.
    char start[2 * sizeof RecordingHead];
    DWORD got = 0;
    DWORD error = WRITTEN;
    if (!ReadFile(*file, start, sizeof start, &got, NULL))
        error = GetLastError();
    else if (got != 0 && !IsRecording(start, got))
        error = NOT_A_RECORDING;
    else if (SetFilePointer(*file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        error = GetLastError();
    if (error != WRITTEN) {
        CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
    }
    return error;
}

// Writes the whole recording to path and flushes it: WRITTEN, or why not, with nothing of the
// recording left behind. A file that is there already is replaced when replaceAny (the user
// agreed in the Save dialog) or when it is a recording or empty; any other is left alone.
static DWORD WriteRecording(const char *path, const Recording *recording, bool replaceAny)
{
    // A floppy that is missing or write-protected is told by the error, not by the system's
    // own box before it.
    UINT errorMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    DWORD error = WRITTEN;
    bool shorten = false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, replaceAny ? CREATE_ALWAYS : CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        if (!replaceAny && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS))
            error = OpenOwnFile(path, &file, &shorten);
    }
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!WriteFile(file, recording->text, recording->size, &written, NULL))
            error = GetLastError();
        else if (written != recording->size)
            error = ERROR_DISK_FULL;
        // A longer recording replaced ends where this one does; the data must be on the disk
        // before the user is told it is written.
        else if ((shorten && !SetEndOfFile(file)) || !FlushFileBuffers(file))
            error = GetLastError();
        if (!CloseHandle(file) && error == WRITTEN)
            error = GetLastError();
        if (error != WRITTEN)
            DeleteFileA(path);
    }
    SetErrorMode(errorMode);
    return error;
}

static void TellNotWritten(const char *path, DWORD error, bool chooseAgain)
{
    char reason[TEXT_SIZE];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error,
                       0, reason, sizeof reason, NULL) == 0) {
        char format[TEXT_SIZE];
        LoadText(MSG_DUMP_ERROR, format);
        wsprintfA(reason, format, error);
    }
    // The system's texts end with a line break of their own.
    for (size_t end = strlen(reason); end > 0 && (reason[end - 1] == '\r' ||
                                                  reason[end - 1] == '\n' ||
                                                  reason[end - 1] == ' ');)
        reason[--end] = '\0';
    char format[TEXT_SIZE];
    char text[MESSAGE_SIZE];
    LoadText(MSG_DUMP_NOT_WRITTEN, format);
    wsprintfA(text, format, path);
    AddParagraph(text, 0, reason);
    if (chooseAgain)
        AddParagraph(text, MSG_DUMP_CHOOSE_AGAIN);
    Tell(MB_ICONEXCLAMATION, text);
}

static void TellNotARecording(const char *path)
{
    char format[TEXT_SIZE];
    char text[MESSAGE_SIZE];
    LoadText(MSG_DUMP_NOT_A_RECORDING, format);
    wsprintfA(text, format, path);
    AddParagraph(text, MSG_DUMP_NAME_ANOTHER);
    Tell(MB_ICONEXCLAMATION, text);
}

// The desktop as the shell names it; false, and folder empty, where the shell cannot say.
// SHELL32 is loaded here, not imported, so that the program's imports stay those that Windows 95
// has.
static bool DesktopFromShell(char *folder)
{
    typedef HRESULT(WINAPI * LocationFunction)(HWND, int, LPITEMIDLIST *);
    typedef BOOL(WINAPI * PathFunction)(LPCITEMIDLIST, char *);
    typedef HRESULT(WINAPI * AllocatorFunction)(IMalloc **);
    HMODULE shell = LoadSystemLibrary("SHELL32.DLL");
    if (shell == NULL)
        return false;
    LocationFunction location =
        (LocationFunction)(void *)GetProcAddress(shell, "SHGetSpecialFolderLocation");
    PathFunction path = (PathFunction)(void *)GetProcAddress(shell, "SHGetPathFromIDListA");
    AllocatorFunction allocator = (AllocatorFunction)(void *)GetProcAddress(shell, "SHGetMalloc");
    bool found = false;
    IMalloc *memory;
    LPITEMIDLIST list;
    if (location != NULL && path != NULL && allocator != NULL &&
        allocator(&memory) == S_OK) {
        if (location(NULL, CSIDL_DESKTOPDIRECTORY, &list) == S_OK) {
            found = path(list, folder) && folder[0] != '\0';
            memory->Free(list);
        }
        memory->Release();
    }
    FreeLibrary(shell);
    if (!found)
        folder[0] = '\0';
    return found;
}

// The user's desktop, where a user finds the file again and which is never the CD QVDUMP may
// run from: as the shell names it, else as the registry's copy for older programs says; else
// the folder for temporary files. Empty when none is known.
static void DefaultFolder(char *folder, DWORD size)
{
    HKEY key;
    folder[0] = '\0';
    if (size >= MAX_PATH && DesktopFromShell(folder))
        return;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD type;
        DWORD room = size - 1;
        if (RegQueryValueExA(key, "Desktop", NULL, &type, (BYTE *)folder, &room) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            room = 0;
        folder[room < size ? room : size - 1] = '\0';
        RegCloseKey(key);
    }
    if (folder[0] == '\0' && GetTempPathA(size, folder) >= size)
        folder[0] = '\0';
}

// Offers path in the Save dialog: the file name QVDUMP.TXT in the user's desktop, or the folder
// for temporary files. False when the user cancels; else path is the file chosen.
static bool ChooseFile(char *path)
{
    char folder[MAX_PATH];
    char name[TEXT_SIZE];
    char filter[TEXT_SIZE];
    char title[TEXT_SIZE];
    DefaultFolder(folder, sizeof folder);
    LoadText(MSG_DUMP_FILE_NAME, name);
    // The folder in the file's path is where every Windows opens the dialog; the initial
    // folder alone, Windows 7 and later replace by the one last used, which may be the one
    // where the last write failed.
    size_t length = strlen(folder);
    if (length != 0 && length + 1 + strlen(name) < MAX_PATH) {
        strcpy(path, folder);
        if (path[length - 1] != '\\')
            strcat(path, "\\");
        strcat(path, name);
    } else {
        strcpy(path, name);
    }
    LoadText(MSG_DUMP_FILTER, filter);
    // The catalogue cannot hold the NULs that part the filter's names and patterns.
    for (char *c = filter; *c != '\0'; ++c) {
        if (*c == '|')
            *c = '\0';
    }
    LoadText(MSG_DUMP_SAVE_TITLE, title);
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    // The record as Windows 95 and NT 4.0 know it.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = folder[0] != '\0' ? folder : NULL;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = "txt";
    // The dialog does not try the file out: the write says what went wrong, and why.
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST |
                   OFN_NOREADONLYRETURN | OFN_NOTESTFILECREATE;
    return GetSaveFileNameA(&dialog) != 0;
}

// The file named on the command line: the whole line without the blanks around it, or what a
// pair of quotes holds. Empty for none.
static void NamedFile(const char *commandLine, char *path)
{
    while (*commandLine == ' ' || *commandLine == '\t')
        ++commandLine;
    bool quoted = *commandLine == '"';
    commandLine += quoted ? 1 : 0;
    DWORD length = 0;
    while (commandLine[length] != '\0' && !(quoted && commandLine[length] == '"') &&
           length + 1 < MAX_PATH) {
        path[length] = commandLine[length];
        ++length;
    }
    while (length > 0 && (path[length - 1] == ' ' || path[length - 1] == '\t'))
        --length;
    path[length] = '\0';
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    LoadLibrariesFromSystemOnly();
    Recording recording = {NULL, 0, 0, false};
    RecordMachine(Collect, &recording);
    if (recording.outOfMemory) {
        char text[TEXT_SIZE];
        LoadText(MSG_DUMP_NO_MEMORY, text);
        Tell(MB_ICONEXCLAMATION, text);
        return EXIT_NOT_WRITTEN;
    }

    // A file named on the command line may be a document dropped on the program: it is never
    // replaced unless it is a recording.
    char path[MAX_PATH];
    NamedFile(commandLine, path);
    if (path[0] != '\0') {
        DWORD error = WriteRecording(path, &recording, false);
        if (error == NOT_A_RECORDING)
            TellNotARecording(path);
        else if (error != WRITTEN)
            TellNotWritten(path, error, false);
        return error == WRITTEN ? EXIT_WRITTEN : EXIT_NOT_WRITTEN;
    }

    // The Save dialog asks before it replaces a file.
    for (;;) {
        if (!ChooseFile(path))
            return EXIT_CANCELLED;
        DWORD error = WriteRecording(path, &recording, true);
        if (error == WRITTEN)
            break;
        TellNotWritten(path, error, true);
    }
    char format[TEXT_SIZE];
    char text[MESSAGE_SIZE];
    LoadText(MSG_DUMP_WRITTEN, format);
    wsprintfA(text, format, path, recording.size);
    AddParagraph(text, MSG_DUMP_WHAT);
    AddParagraph(text, MSG_DUMP_HOW);
    Tell(MB_ICONINFORMATION, text);
    return EXIT_WRITTEN;
}
