// What the tests and the benchmark driver of the core against the fake platform share.
#ifndef QORVALIN_FAKE_H
#define QORVALIN_FAKE_H

#include "platform/sim/sim.h"

// The main dialog as the core sees it; the fake never looks at the handle.
Window const TheWindow = (Window)0x1;

// The version the query then reports.
void SetVersion(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build = 0,
                const char *csd = "");

#endif
