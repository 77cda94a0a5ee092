// The entry point, the main window's procedure and the one-time check run.
#include "app/app.h"

#include "report/messages.h"
#include "verdict/verdict.h"

HINSTANCE AppInstance;
char AppName[APP_NAME_SIZE];
HBRUSH AppBackgroundBrush;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int)
{
    LoadLibrariesFromSystemOnly();
    AppBackgroundBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    AppInstance = instance;
    LoadStringA(AppInstance, MSG_APP_NAME, AppName, APP_NAME_SIZE);

    if (previous == NULL) {
        WNDCLASSA windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = MainDlgProc;
        windowClass.cbClsExtra = 0;
        // The dialog manager keeps its own data in the window of a template that names a
        // class of ours.
        windowClass.cbWndExtra = DLGWINDOWEXTRA;
        windowClass.hInstance = AppInstance;
        windowClass.hIcon = LoadIconA(AppInstance, "MAINICON");
        windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
        windowClass.hbrBackground = AppBackgroundBrush;
        windowClass.lpszMenuName = NULL;
        windowClass.lpszClassName = AppName;
        if (RegisterClassA(&windowClass) == 0)
            return 0;
    }

    HWND window = CreateDialogParamA(AppInstance, AppName, NULL, NULL, 0);
    // Without a window nothing could ever end the message loop.
    if (window == NULL) {
        DeleteObject(AppBackgroundBrush);
        return 1;
    }
    PostMessageA(window, WM_START_CHECKS, 0, 0);
    ShowWindow(window, SW_HIDE);

    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }

    DeleteObject(AppBackgroundBrush);
    return (int)message.wParam;
}

LRESULT CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_START_CHECKS:
        RunChecks(window);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CLOSE:
            SendMessageA(window, WM_CLOSE, 0, 0);
            break;
        case IDC_ABOUT:
            DialogBoxParamA(AppInstance, "IDD_ABOUTBOX", window, AboutDlgProc, 0);
            break;
        case IDC_DETAILS:
            ExpandDetails(window);
            break;
        }
        return 0;
    case WM_NEXTDLGCTL:
        // The dialog keyboard handling of the message loop moves the focus (Tab, Shift+Tab,
        // the arrows, the Tab that ExpandDetails posts) by asking the dialog itself; only the
        // default dialog procedure knows how, the default window procedure ignores it.
        return DefDlgProcA(window, message, wParam, lParam);
    case WM_TIMER:
        AdvanceVerdictIcon(window);
        return 0;
    case WM_DESTROY:
        ReleaseVerdictIcons();
        if (HeadlineFont != NULL) {
            DeleteObject(HeadlineFont);
            HeadlineFont = NULL;
        }
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT RunChecks(HWND window)
{
    INT_PTR choice =
        DialogBoxParamA(AppInstance, "IDD_SPLASH_DIALOG", window, SplashDlgProc, 0);
    if (choice != IDC_CONTINUE) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    // Sets the Details list's tab stops before the probes write, then the probes and the
    // verdict; the window is still hidden throughout.
    PerformChecks(window);
    ShrinkToSummary(window);
    CreateHeadlineFont(window);
    SetFocus(GetDlgItem(window, IDC_CLOSE));
    ShowWindow(window, SW_SHOW);
    return 0;
}
