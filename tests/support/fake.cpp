// What the tests and the benchmark driver of the core against the fake platform share.
#include "tests/support/fake.h"

#include <string.h>

void SetVersion(uint32_t platform, uint32_t major, uint32_t minor, uint32_t build,
                const char *csd)
{
    Sim.versionKnown = true;
    Sim.version = {major, minor, build, platform, ""};
    strcpy(Sim.version.csd, csd);
}
