// The platform operations of the Windows product that reach the user interface: catalogue
// texts, formatting, and the main dialog's controls, icons and timer.
#include "platform/platform.h"
#include "platform/win32/win32.h"

#include <string.h>

uint32_t PlatformLoadMessage(uint32_t number, char *buffer, uint32_t capacity)
{
    // With no room at all LoadString would hand back a pointer instead of a copy.
    if (capacity == 0)
        return 0;
    int length = LoadStringA(AppInstance, number, buffer, (int)capacity);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    return (uint32_t)length;
}

void PlatformFormat(char *out, uint32_t capacity, const char *format, va_list args)
{
    if (capacity == 0)
        return;
    // wvsprintf writes at most 1024 characters and a terminator, whatever the caller's room.
    char formatted[1025];
    wvsprintfA(formatted, format, args);
    size_t length = strlen(formatted);
    if (length > capacity - 1)
        length = capacity - 1;
    memcpy(out, formatted, length);
    out[length] = '\0';
}

void PlatformSetControlText(Window window, int control, const char *text)
{
    SetDlgItemTextA((HWND)window, control, text);
}

void PlatformAddListItem(Window window, int control, const char *text)
{
    SendDlgItemMessageA((HWND)window, control, LB_ADDSTRING, 0, (LPARAM)text);
}

void PlatformSetListTabStops(Window window, int control, const int *stops, int count)
{
    SendDlgItemMessageA((HWND)window, control, LB_SETTABSTOPS, (WPARAM)count, (LPARAM)stops);
}

IconHandle PlatformLoadIcon(const char *name)
{
    return LoadImageA(AppInstance, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED);
}

void PlatformSetControlIcon(Window window, int control, IconHandle icon)
{
    SendDlgItemMessageA((HWND)window, control, STM_SETICON, (WPARAM)icon, 0);
}

void PlatformStartTimer(Window window, uint32_t id, uint32_t milliseconds)
{
    SetTimer((HWND)window, id, milliseconds, NULL);
}
