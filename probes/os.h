// The operating-system probe (the version queries it shares with the others are in queries.h).
#ifndef QORVALIN_OS_H
#define QORVALIN_OS_H

#include "platform/platform.h"
#include "probes/queries.h"
#include "probes/support.h"

SupportFlags CheckOperatingSystem(Window window);

#endif
