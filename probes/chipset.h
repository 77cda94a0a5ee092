// The chipset probe: known USB-capable chipsets on PCI bus 0, through the configuration ports.
#ifndef QORVALIN_CHIPSET_H
#define QORVALIN_CHIPSET_H

#include "platform/platform.h"
#include "probes/support.h"

SupportFlags ProbeChipset(Window window);

#endif
