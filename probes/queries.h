// The questions the probes put to the system, each asked in one place: Qorvalin asks them to
// rate the machine, QVDUMP.EXE to record what the machine answers.
#ifndef QORVALIN_QUERIES_H
#define QORVALIN_QUERIES_H

#include "platform/platform.h"

// The major version on the NT platform, 0 elsewhere or when the version cannot be read.
uint32_t GetNtMajorVersion();
// 1 on the Windows 95 platform at version 4.0 or below, else 0.
int IsEarlyWindows95();

// A registry value below HKEY_LOCAL_MACHINE that holds the release's version text.
struct RegistryValue {
    const char *path;
    const char *name;
};
extern const RegistryValue RegistryVersion9x;
extern const RegistryValue RegistryVersionNt;
// The one the release keeps its text in: the NT platform's or the other.
const RegistryValue &RegistryVersionValue();

enum RegistryAnswer {
    REGISTRY_NO_KEY,
    REGISTRY_NO_VALUE,  // the key opened, the value was not read (missing or too large)
    REGISTRY_READ,
};
// Reads the value's raw bytes into buffer, cleared first; *size is the room on entry and the
// bytes read after a read, type (may be null) the value's type.
RegistryAnswer QueryRegistryValue(const RegistryValue &value, uint8_t *buffer, uint32_t *size,
                                  uint32_t *type);

enum {
    PCI_DEVICES = 32,
    PCI_FUNCTIONS = 8,
};
// Register 0 of a function on PCI bus 0 through configuration mechanism #1; false when the
// system denied a port access.
bool ReadPciRegister0(uint32_t device, uint32_t function, uint32_t *value);

enum {
    HCD_COUNT = 10,           // \\.\HCD0 to \\.\HCD9
    HCD_REPLY_SIZE = 256,     // the driver's reply buffer, input and output
    REPLY_NAME_OFFSET = 4,    // the UTF-16 name follows the 4-byte ActualLength
};
// The host controller driver device of that index, opened; null when it does not open.
DeviceHandle OpenHostController(uint32_t index);
// Asks the driver for its driver key name; reply (HCD_REPLY_SIZE bytes) is cleared first,
// *returned is the byte count the driver reports, which may overstate the reply.
bool RequestDriverKeyName(DeviceHandle device, uint8_t *reply, uint32_t *returned);

// A device node of the configuration manager; 0 is no node.
typedef uint32_t DevNode;

typedef uint32_t(PLATFORM_API *CmLocateFunction)(DevNode *node, const char *deviceId,
                                                   uint32_t flags);
typedef uint32_t(PLATFORM_API *CmPropertyFunction)(DevNode node, uint32_t property,
                                                     uint32_t *type, void *buffer,
                                                     uint32_t *length, uint32_t flags);
typedef uint32_t(PLATFORM_API *GetRelativeFunction)(DevNode *relative, DevNode node,
                                                      uint32_t flags);
typedef GetRelativeFunction CmChildFunction;
typedef GetRelativeFunction CmSiblingFunction;
typedef GetRelativeFunction CmParentFunction;

struct CfgMgr {
#define CFGMGR_MEMBER(tag, name) Cm##tag##Function tag;
    PLATFORM_CFGMGR_FUNCTIONS(CFGMGR_MEMBER)
#undef CFGMGR_MEMBER
};

enum : uint32_t {
    // One bit for each function, in the order of PLATFORM_CFGMGR_FUNCTIONS.
    CFGMGR_ALL_FOUND = 0x1F,
};

// Loads "CfgMgr32.dll" (older releases lack it, so it is linked at run time) and looks up its
// functions; *found gets a bit for each one found. Null when the library does not load.
LibraryHandle LoadCfgMgr(CfgMgr *cm, uint32_t *found);
// The root of the device tree; 0 when it cannot be located.
DevNode LocateRootNode(const CfgMgr *cm);
// The node's first child, next sibling or parent; 0 for none.
DevNode Relative(GetRelativeFunction get, DevNode node);
// Reads a property's raw bytes into buffer, cleared first; *length is the room on entry.
// Returns the configuration manager's answer.
uint32_t QueryNodeProperty(const CfgMgr *cm, DevNode node, uint32_t property, void *buffer,
                           uint32_t *length);

#endif
