// The host controller enumeration (placeholder until the device-tree search lands).
#include "probes/hostctl.h"

SupportFlags ProbeHostControllers(Window, SupportFlags)
{
    return SUPPORT_UNKNOWN;
}
