// The host controller enumeration: each loaded host controller driver, its node in the
// configuration manager's device tree, and the vendor, IDs and description the node holds.
#include "probes/hostctl.h"

#include "probes/hexparse.h"
#include "probes/os.h"
#include "probes/vendors.h"
#include "report/report.h"

#include <string.h>

void GetHcdDriverKeyName(DeviceHandle device, char *name)
{
    name[0] = '\0';
    // The host controller drivers of the first Windows 95 releases do not know the request.
    if (IsEarlyWindows95())
        return;
    uint8_t reply[HCD_REPLY_SIZE];
    uint32_t returned;
    if (!RequestDriverKeyName(device, reply, &returned))
        return;
    // The driver's count may overstate the reply or cut it mid-character, and its text may
    // lack a terminator: take whole UTF-16 units from the bytes it returned that lie within
    // the buffer, up to the first terminator.
    uint32_t count = returned < sizeof reply ? returned : (uint32_t)sizeof reply;
    uint16_t text[(HCD_REPLY_SIZE - REPLY_NAME_OFFSET) / 2 + 1];
    uint32_t units = 0;
    for (uint32_t at = REPLY_NAME_OFFSET; at + 1 < count; at += 2) {
        uint16_t unit = (uint16_t)(reply[at] | reply[at + 1] << 8);
        if (unit == 0)
            break;
        text[units++] = unit;
    }
    text[units] = 0;
    if (units == 0)
        return;
    PlatformWideToAnsi(text, name, count);
}

// Reads a text property into size bytes. A value that is not terminated within them did not
// fit, whatever the configuration manager answered, and counts as not read.
static bool ReadProperty(const CfgMgr *cm, DevNode node, uint32_t property, char *buffer,
                         uint32_t size)
{
    uint32_t length = size;
    if (QueryNodeProperty(cm, node, property, buffer, &length) != CR_SUCCESS)
        return false;
    for (uint32_t i = 0; i < size; ++i) {
        if (buffer[i] == '\0')
            return true;
    }
    return false;
}

// Depth first in pre-order from the root: down to the first child, else across to the next
// sibling, else up until an ancestor has a next sibling. Every node reachable from the root by
// first-child and next-sibling moves through nodes that answer is visited once, in that order;
// a node that answers nothing hides its own children and the siblings after it (nothing names
// them), and nothing else.
static DevNode FindDriverNode(const CfgMgr *cm, DevNode root, const char *driverKeyName,
                              char *property)
{
    // Every move, down, across or up, spends a step, so that a tree whose links form a cycle
    // cannot keep the search going for ever; real trees hold a few hundred nodes.
    uint32_t steps = 0;
    DevNode node = root;
    // A node may answer nothing at all, its parent query included (one removed while the
    // search runs; a placeholder in some trees). The way here still tells its parent: the node
    // the search came down from, kept across siblings, or else the parent of the elder sibling
    // that led to it, which answered. Both are asked for only when the node's own answer fails.
    DevNode parent = 0;
    DevNode elder = 0;
    while (steps++ < MAX_TREE_STEPS) {
        if (ReadProperty(cm, node, CM_DRP_DRIVER, property, PROPERTY_SIZE) &&
            strcmp(property, driverKeyName) == 0)
            return node;
        DevNode next = Relative(cm->Child, node);
        if (next != 0) {
            parent = node;
            elder = 0;
        } else if ((next = Relative(cm->Sibling, node)) != 0) {
            elder = node;
        }
        while (next == 0) {
            DevNode up = Relative(cm->Parent, node);
            if (up == 0)
                up = parent != 0 ? parent : elder != 0 ? Relative(cm->Parent, elder) : 0;
            if (up == 0 || steps++ >= MAX_TREE_STEPS)
                return 0;
            node = up;
            parent = 0;
            elder = 0;
            next = Relative(cm->Sibling, node);
            if (next != 0)
                elder = node;
        }
        node = next;
    }
    return 0;
}

static void ReportNode(Window window, const CfgMgr *cm, DevNode node, char *property)
{
    if (ReadProperty(cm, node, CM_DRP_HARDWAREID, property, PROPERTY_SIZE))
        ReportControllerVendor(window, property);
    // The TAB in front indents the description under the vendor line.
    property[0] = '\t';
    if (ReadProperty(cm, node, CM_DRP_DEVICEDESC, property + 1, PROPERTY_SIZE - 1))
        AddDetailText(window, property);
    AddBlankDetail(window);
}

SupportFlags ReportHostController(Window window, const char *driverKeyName)
{
    CfgMgr cm;
    uint32_t found;
    LibraryHandle library = LoadCfgMgr(&cm, &found);
    if (library == nullptr)
        return SUPPORT_MAYBE;
    SupportFlags result = SUPPORT_MAYBE;
    DevNode root;
    if (found == CFGMGR_ALL_FOUND && (root = LocateRootNode(&cm)) != 0) {
        char property[PROPERTY_SIZE];
        DevNode node = FindDriverNode(&cm, root, driverKeyName, property);
        if (node != 0) {
            ReportNode(window, &cm, node, property);
            result = SUPPORT_YES;
        }
    }
    PlatformFreeLibrary(library);
    return result;
}

void ReportControllerVendor(Window window, char *hardwareId)
{
    for (char *c = hardwareId; *c != '\0'; ++c) {
        if (*c >= 'A' && *c <= 'Z')
            *c = (char)(*c - 'A' + 'a');
    }
    char *vendorField = strstr(hardwareId, "ven_");
    if (vendorField == nullptr) {
        AddDetail(window, MSG_HC_UNIDENTIFIED);
        return;
    }
    int32_t vendorId = HexToLong(vendorField + 4, nullptr);
    const PciVendor *vendor = FindPciVendor(vendorId);
    const char *vendorName = vendor != nullptr ? vendor->name : "Unknown";
    char *deviceField = strstr(vendorField + 4, "dev_");
    if (deviceField != nullptr) {
        int32_t deviceId = HexToLong(deviceField + 4, nullptr);
        AddDetail(window, MSG_HC_VENDOR_DEVICE, vendorName, (uint32_t)vendorId,
                  (uint32_t)deviceId);
    } else {
        AddDetail(window, MSG_HC_VENDOR, vendorName, (uint32_t)vendorId);
    }
}

// With no host controller device at all, releases whose USB support comes without these
// drivers (NT 4.0, the first Windows 95 releases) leave the question open.
static SupportFlags RateNothingOpened()
{
    VersionRecord version;
    if (!PlatformGetVersion(&version))
        return SUPPORT_NO;
    if (version.platform == PLATFORM_WIN32_NT && version.major < 5)
        return SUPPORT_UNKNOWN;
    if (version.platform == PLATFORM_WIN32_WINDOWS &&
        (version.major < 4 || (version.major == 4 && version.minor == 0)))
        return SUPPORT_UNKNOWN;
    return SUPPORT_NO;
}

SupportFlags ProbeHostControllers(Window window, SupportFlags chipsetFlags)
{
    SupportFlags rating = SUPPORT_NO;
    for (uint32_t index = 0; index < HCD_COUNT; ++index) {
        DeviceHandle device = OpenHostController(index);
        if (device == nullptr)
            continue;
        char name[HCD_NAME_SIZE];
        memset(name, 0, sizeof name);
        GetHcdDriverKeyName(device, name);
        if (name[0] == '\0')
            rating |= SUPPORT_MAYBE;
        else
            rating |= ReportHostController(window, name);
        PlatformCloseDevice(device);
    }
    if (rating & SUPPORT_YES) {
        rating &= ~(SUPPORT_MAYBE | SUPPORT_NO | SUPPORT_UNKNOWN);
    } else if (rating & SUPPORT_MAYBE) {
        // Controllers answered but none was found in the device tree; say so only when the
        // chipset probe could not tell either.
        rating = SUPPORT_YES;
        if (chipsetFlags == SUPPORT_UNKNOWN) {
            AddDetail(window, MSG_HC_UNIDENTIFIED);
            AddBlankDetail(window);
        }
    }
    if (rating & SUPPORT_NO)
        return RateNothingOpened();
    return rating;
}
