// The host controller enumeration: loaded USB host controller drivers and their device nodes.
#ifndef QORVALIN_HOSTCTL_H
#define QORVALIN_HOSTCTL_H

#include "platform/platform.h"
#include "probes/queries.h"
#include "probes/support.h"

enum {
    HCD_NAME_SIZE = 256,      // the driver key name buffer, terminator included
    PROPERTY_SIZE = 256,      // one device node property
    MAX_TREE_STEPS = 65536,   // moves through the device tree before a search gives up
};

SupportFlags ProbeHostControllers(Window window, SupportFlags chipsetFlags);
// Fills name (HCD_NAME_SIZE bytes) with the driver key name of an open host controller
// device, or leaves it empty.
void GetHcdDriverKeyName(DeviceHandle device, char *name);
// SUPPORT_YES when a device node with that driver key name was found and reported,
// SUPPORT_MAYBE otherwise.
SupportFlags ReportHostController(Window window, const char *driverKeyName);
// Adds the vendor line for a hardware ID; lower-cases it in place.
void ReportControllerVendor(Window window, char *hardwareId);

#endif
