/* The benchmark's baseline program: a dialog from a template and a message loop, nothing else. */
#include <windows.h>

static INT_PTR CALLBACK MinimalDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

/* Linked without a C runtime, like the program it is measured against, so that both pay the
   same for loading. */
void WINAPI WinMainCRTStartup(void)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), "MINIMAL", NULL, MinimalDlgProc, 0);
    MSG message;
    message.wParam = 1;
    if (dialog != NULL) {
        while (GetMessageA(&message, NULL, 0, 0) > 0) {
            if (!IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    ExitProcess((UINT)message.wParam);
}
