// The main window's compact and full sizes and the headline's bold, enlarged font.
#include "app/app.h"
#include "app/headline.h"

RECT FullWindowRect;
HFONT HeadlineFont;

void ShrinkToSummary(HWND window)
{
    GetWindowRect(window, &FullWindowRect);
    POINT labelTop = {0, 0};
    ClientToScreen(GetDlgItem(window, IDC_DETAILS_LABEL), &labelTop);
    SetWindowPos(window, NULL, 0, 0, FullWindowRect.right - FullWindowRect.left,
                 labelTop.y - FullWindowRect.top, SWP_NOMOVE | SWP_NOZORDER);
}

void ExpandDetails(HWND window)
{
    ShowWindow(window, SW_HIDE);
    SetWindowPos(window, NULL, 0, 0, FullWindowRect.right - FullWindowRect.left,
                 FullWindowRect.bottom - FullWindowRect.top, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(window, SW_SHOW);
    // Posted, so that it arrives after the button is disabled and the dialog keyboard
    // handling moves the focus on to Close (repeat 1, scan code 0x0F).
    HWND details = GetDlgItem(window, IDC_DETAILS);
    PostMessageA(details, WM_KEYDOWN, VK_TAB, 0x000F0001);
    EnableWindow(details, FALSE);
}

void CreateHeadlineFont(HWND window)
{
    HFONT dialogFont = (HFONT)SendDlgItemMessageA(window, IDC_HEADLINE, WM_GETFONT, 0, 0);
    LOGFONTA description;
    ZeroMemory(&description, sizeof description);
    // The record is cleared first, so a read that stops short of the face name's full room
    // still leaves a usable description; only a failed read means there is none.
    if (GetObjectA(dialogFont, sizeof description, &description) == 0)
        return;
    description.lfWeight = FW_BOLD;
    description.lfWidth = 0;
    description.lfHeight = EnlargedFontHeight(description.lfHeight);
    HeadlineFont = CreateFontIndirectA(&description);
    if (HeadlineFont != NULL)
        SendDlgItemMessageA(window, IDC_HEADLINE, WM_SETFONT, (WPARAM)HeadlineFont, TRUE);
}
