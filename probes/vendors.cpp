// Looking up a vendor ID in the PCI vendor name table.
#include "probes/vendors.h"

const PciVendor *FindPciVendor(int32_t vendorId)
{
    // The IDs are widened before they are compared, so a negative value or one above 0xFFFF
    // matches nothing, and the walk stops before the terminating entry's 0.
    for (const PciVendor *vendor = PciVendorTable; vendor->id != 0; ++vendor) {
        if ((int32_t)vendor->id == vendorId)
            return vendor;
    }
    return nullptr;
}
