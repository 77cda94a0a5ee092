// QVDUMP.EXE: records what this computer answers to Qorvalin's questions as a scenario file,
// written to the file named on the command line or, without one, to the file the user picks.
#include <windows.h>
#include <commdlg.h>

#include "dump/messages.h"
#include "dump/record.h"

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

// Writes the whole recording; 0, or the system's error with no file left behind.
static DWORD WriteRecording(const char *path, const Recording *recording)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file, recording->text, recording->size, &written, NULL))
        error = GetLastError();
    else if (written != recording->size)
        error = ERROR_DISK_FULL;
    if (!CloseHandle(file) && error == 0)
        error = GetLastError();
    if (error != 0)
        DeleteFileA(path);
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

// The user's desktop, where a user finds the file again and which is never the CD QVDUMP may
// run from; else the folder for temporary files.
static void DefaultFolder(char *folder, DWORD size)
{
    HKEY key;
    folder[0] = '\0';
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

// Asks for the file in the Save dialog; false when the user cancels.
static bool ChooseFile(char *path)
{
    char folder[MAX_PATH];
    char filter[TEXT_SIZE];
    char title[TEXT_SIZE];
    DefaultFolder(folder, sizeof folder);
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
    Recording recording = {NULL, 0, 0, false};
    RecordMachine(Collect, &recording);
    if (recording.outOfMemory) {
        char text[TEXT_SIZE];
        LoadText(MSG_DUMP_NO_MEMORY, text);
        Tell(MB_ICONEXCLAMATION, text);
        return EXIT_NOT_WRITTEN;
    }

    char path[MAX_PATH];
    NamedFile(commandLine, path);
    if (path[0] != '\0') {
        DWORD error = WriteRecording(path, &recording);
        if (error != 0) {
            TellNotWritten(path, error, false);
            return EXIT_NOT_WRITTEN;
        }
        return EXIT_WRITTEN;
    }

    LoadText(MSG_DUMP_FILE_NAME, path);
    for (;;) {
        if (!ChooseFile(path))
            return EXIT_CANCELLED;
        DWORD error = WriteRecording(path, &recording);
        if (error == 0)
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
