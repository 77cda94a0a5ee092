// The operating-system probe and the two version queries the other probes share.
#ifndef QORVALIN_OS_H
#define QORVALIN_OS_H

#include "platform/platform.h"
#include "probes/support.h"

SupportFlags CheckOperatingSystem(Window window);
// The major version on the NT platform, 0 elsewhere or when the version cannot be read.
uint32_t GetNtMajorVersion();
// 1 on the Windows 95 platform at version 4.0 or below, else 0.
int IsEarlyWindows95();

#endif
