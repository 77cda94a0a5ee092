// The rating every probe returns: a set of SUPPORT_ bits.
#ifndef QORVALIN_SUPPORT_H
#define QORVALIN_SUPPORT_H

#include <stdint.h>

typedef uint32_t SupportFlags;

enum : uint32_t {
    SUPPORT_YES = 0x01,      // USB supported
    SUPPORT_MAYBE = 0x02,    // supported, but changes are recommended
    SUPPORT_NO = 0x04,       // not supported
    SUPPORT_UNKNOWN = 0x10,  // cannot be determined
};

#endif
