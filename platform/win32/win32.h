// What the Windows side of the platform shares with the shell: the module it loads from, and how
// system libraries are loaded.
#ifndef QORVALIN_WIN32_H
#define QORVALIN_WIN32_H

#include <windows.h>

// SetDefaultDllDirectories' LOAD_LIBRARY_SEARCH_SYSTEM32, which older headers lack.
enum { SEARCH_SYSTEM_FOLDER_ONLY = 0x00000800 };

// A library of the system, loaded by its full path in the system folder (on 64-bit Windows the
// 32-bit program's is redirected to the 32-bit one), never from the program's folder or the
// current one; null when it is not there.
HMODULE LoadSystemLibrary(const char *name);

// Where the system can be told (Windows 8 and later, 7 with its update), every library loaded
// for the program from now on, the system's own loads for it included, comes from the system
// folder. Called first thing.
void LoadLibrariesFromSystemOnly();

// The program's own module: templates, catalogue texts, icons and the bitmap come from it.
extern HINSTANCE AppInstance;

#endif
