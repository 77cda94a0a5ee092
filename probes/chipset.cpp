// The chipset probe (placeholder until the port search lands).
#include "probes/chipset.h"

SupportFlags ProbeChipset(Window)
{
    return SUPPORT_UNKNOWN;
}
