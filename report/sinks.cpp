// The report sinks: paragraphs accumulate in one panel text, Details lines go straight to the list.
#include "report/report.h"

#include <string.h>

static char PanelText[PANEL_TEXT_SIZE];

void AppendInfo(Window window, uint32_t message)
{
    char paragraph[PARAGRAPH_SIZE];
    uint32_t length = PlatformLoadMessage(message, paragraph, sizeof paragraph);
    if (length == 0)
        return;
    // Paragraphs are never taken back, so one that does not fit whole is left out rather
    // than cut.
    size_t used = strlen(PanelText);
    if (used + length + 4 >= sizeof PanelText)
        return;
    memcpy(PanelText + used, paragraph, length);
    memcpy(PanelText + used + length, "\r\n\r\n", 5);
    PlatformSetControlText(window, IDC_MORE_INFO, PanelText);
}

void AddDetail(Window window, uint32_t message, ...)
{
    char format[DETAIL_LINE_SIZE];
    if (PlatformLoadMessage(message, format, sizeof format) == 0)
        return;
    char line[DETAIL_LINE_SIZE];
    va_list args;
    va_start(args, message);
    PlatformFormat(line, sizeof line, format, args);
    va_end(args);
    PlatformAddListItem(window, IDC_DETAILS_LIST, line);
}

void AddDetailText(Window window, const char *text)
{
    PlatformAddListItem(window, IDC_DETAILS_LIST, text);
}

void AddBlankDetail(Window window)
{
    AddDetailText(window, "");
}

const char *MoreInfoText()
{
    return PanelText;
}

void ClearMoreInfoText()
{
    PanelText[0] = '\0';
}
