// The two report sinks every probe writes to: the More Information panel and the Details list.
#ifndef QORVALIN_REPORT_H
#define QORVALIN_REPORT_H

#include "platform/platform.h"
#include "report/controls.h"
#include "report/messages.h"

enum {
    PANEL_TEXT_SIZE = 4096,
    PARAGRAPH_SIZE = 512,
    DETAIL_LINE_SIZE = 256,
};

// Appends the message and a blank line to the panel text, if both fit, and shows the text.
void AppendInfo(Window window, uint32_t message);
// Formats the message with the arguments its placeholders ask for and adds it as a line.
void AddDetail(Window window, uint32_t message, ...);
void AddDetailText(Window window, const char *text);
void AddBlankDetail(Window window);

// The accumulated panel text, and a way to start it afresh (each check run in tests).
const char *MoreInfoText();
void ClearMoreInfoText();

#endif
