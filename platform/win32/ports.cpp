// Port access for the Windows product: every access reports denial until the guarded version
// lands.
#include "platform/platform.h"

bool PlatformPortWrite32(uint16_t, uint32_t)
{
    return false;
}

bool PlatformPortRead32(uint16_t, uint32_t *)
{
    return false;
}
