// What the Windows side of the platform shares with the shell: the module it loads from.
#ifndef QORVALIN_WIN32_H
#define QORVALIN_WIN32_H

#include <windows.h>

// The program's own module: templates, catalogue texts, icons and the bitmap come from it.
extern HINSTANCE AppInstance;

#endif
