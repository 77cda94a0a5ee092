// The operating-system probe (placeholder until the classification lands).
#include "probes/os.h"

SupportFlags CheckOperatingSystem(Window)
{
    return SUPPORT_UNKNOWN;
}

uint32_t GetNtMajorVersion()
{
    return 0;
}

int IsEarlyWindows95()
{
    return 0;
}
