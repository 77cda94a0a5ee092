// The application shell: entry point, main window, check run, dialogs and window layout.
#ifndef QORVALIN_APP_H
#define QORVALIN_APP_H

#include <windows.h>

#include "app/resource.h"
#include "platform/win32/win32.h"

#define WM_START_CHECKS (WM_USER + 100)

enum { APP_NAME_SIZE = 16 };

extern char AppName[APP_NAME_SIZE];
extern HBRUSH AppBackgroundBrush;

LRESULT CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT RunChecks(HWND window);

INT_PTR CALLBACK SplashDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The main window's full size, measured before it is first made compact.
extern RECT FullWindowRect;
extern HFONT HeadlineFont;

void ShrinkToSummary(HWND window);
void ExpandDetails(HWND window);
void CreateHeadlineFont(HWND window);

#endif
