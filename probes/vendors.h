// The PCI vendor name table and its lookup by vendor ID.
#ifndef QORVALIN_VENDORS_H
#define QORVALIN_VENDORS_H

#include <stdint.h>

struct PciVendor {
    uint16_t id;
    const char *name;  // code page 1252, at most 80 characters
};

// In name order (byte order), so for an ID that two vendors claim the first name wins; ends
// with the entry {0, "End"}, which no lookup returns.
extern const PciVendor PciVendorTable[];

// The first entry with that ID, or null.
const PciVendor *FindPciVendor(int32_t vendorId);

#endif
