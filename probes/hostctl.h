// The host controller enumeration: loaded USB host controller drivers and their device nodes.
#ifndef QORVALIN_HOSTCTL_H
#define QORVALIN_HOSTCTL_H

#include "platform/platform.h"
#include "probes/support.h"

SupportFlags ProbeHostControllers(Window window, SupportFlags chipsetFlags);

#endif
