/* The benchmark's second baseline: the program's own windows from its own templates in its
   order (the main dialog made hidden, the splash with the logo, Continue, the main window
   shown), and no check run. Linked with the program's compiled resources. */
#include <windows.h>

#include "report/controls.h"

static INT_PTR CALLBACK SplashDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDC_CONTINUE || LOWORD(wParam) == IDC_CLOSE)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

/* Posted before the message loop, as the program posts its start, so that the splash comes from
   the loop. */
#define WM_START (WM_USER + 1)

static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_START) {
        HINSTANCE instance = GetModuleHandleA(NULL);
        if (DialogBoxParamA(instance, "IDD_SPLASH_DIALOG", window, SplashDlgProc, 0) ==
            IDC_CONTINUE)
            ShowWindow(window, SW_SHOW);
        else
            PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/* Linked without a C runtime, like the program. */
void WINAPI WinMainCRTStartup(void)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    WNDCLASSA windowClass = {CS_HREDRAW | CS_VREDRAW, MainProc, 0, DLGWINDOWEXTRA, instance,
                             LoadIconA(instance, "MAINICON"), LoadCursorA(NULL, IDC_ARROW),
                             (HBRUSH)(COLOR_BTNFACE + 1), NULL, "Qorvalin"};
    MSG message;
    message.wParam = 1;
    HWND window = NULL;
    if (RegisterClassA(&windowClass) != 0)
        window = CreateDialogParamA(instance, "QORVALIN", NULL, NULL, 0);
    if (window != NULL) {
        PostMessageA(window, WM_START, 0, 0);
        ShowWindow(window, SW_HIDE);
        while (GetMessageA(&message, NULL, 0, 0) > 0) {
            if (!IsDialogMessageA(window, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    ExitProcess((UINT)message.wParam);
}
