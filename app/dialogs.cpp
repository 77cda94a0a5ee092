// The splash and About dialogs' procedures: both leave everything but their buttons to the
// dialog manager.
#include "app/app.h"

INT_PTR CALLBACK SplashDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND) {
        // IDCANCEL (Escape, the close box) is deliberately ignored: only the two buttons end
        // the splash.
        switch (LOWORD(wParam)) {
        case IDC_CLOSE:
            EndDialog(dialog, IDC_CLOSE);
            break;
        case IDC_CONTINUE:
            EndDialog(dialog, IDC_CONTINUE);
            break;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK)
        EndDialog(dialog, 0);
    return FALSE;
}
