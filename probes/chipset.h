// The chipset probe: known USB-capable chipsets on PCI bus 0, through the configuration ports.
#ifndef QORVALIN_CHIPSET_H
#define QORVALIN_CHIPSET_H

#include "platform/platform.h"
#include "probes/support.h"

SupportFlags ProbeChipset(Window window);

// Searches every device and function of bus 0 for the ID dword (vendor in the low 16 bits,
// device in the high ones); returns the ID when found, 0 otherwise. The first denied port access
// sets *portsDenied and ends the search with what it had found; once it is set no port is
// touched again and the result is 0.
uint32_t FindPciDevice(uint32_t id, bool *portsDenied);

#endif
