// The questions the probes put to the system, each asked in one place.
#include "probes/queries.h"

#include <string.h>

enum : uint16_t {
    PCI_CONFIG_ADDRESS = 0xCF8,
    PCI_CONFIG_DATA = 0xCFC,
};

enum : uint32_t {
    IOCTL_GET_HCD_DRIVERKEY_NAME = 0x220424,
};

uint32_t GetNtMajorVersion()
{
    VersionRecord version;
    if (!PlatformGetVersion(&version) || version.platform != PLATFORM_WIN32_NT)
        return 0;
    return version.major;
}

int IsEarlyWindows95()
{
    VersionRecord version;
    if (!PlatformGetVersion(&version) || version.platform != PLATFORM_WIN32_WINDOWS)
        return 0;
    return version.major < 4 || (version.major == 4 && version.minor == 0);
}

const RegistryValue RegistryVersion9x = {"Software\\Microsoft\\Windows\\CurrentVersion",
                                         "VersionNumber"};
const RegistryValue RegistryVersionNt = {"Software\\Microsoft\\Windows NT\\CurrentVersion",
                                         "CurrentVersion"};

const RegistryValue &RegistryVersionValue()
{
    return GetNtMajorVersion() != 0 ? RegistryVersionNt : RegistryVersion9x;
}

RegistryAnswer QueryRegistryValue(const RegistryValue &value, uint8_t *buffer, uint32_t *size,
                                  uint32_t *type)
{
    memset(buffer, 0, *size);
    RegistryKey key;
    if (!PlatformOpenMachineKey(value.path, &key))
        return REGISTRY_NO_KEY;
    bool read = PlatformQueryValue(key, value.name, buffer, size, type);
    PlatformCloseKey(key);
    return read ? REGISTRY_READ : REGISTRY_NO_VALUE;
}

bool ReadPciRegister0(uint32_t device, uint32_t function, uint32_t *value)
{
    // Register 0 of bus 0, with the enable bit.
    uint32_t address = 0x80000000u + device * 0x800u + function * 0x100u;
    return PlatformPortWrite32(PCI_CONFIG_ADDRESS, address) &&
           PlatformPortRead32(PCI_CONFIG_DATA, value);
}

DeviceHandle OpenHostController(uint32_t index)
{
    char path[] = "\\\\.\\HCD0";
    path[sizeof path - 2] = (char)('0' + index);
    return PlatformOpenDevice(path);
}

bool RequestDriverKeyName(DeviceHandle device, uint8_t *reply, uint32_t *returned)
{
    memset(reply, 0, HCD_REPLY_SIZE);
    *returned = 0;
    return PlatformDeviceRequest(device, IOCTL_GET_HCD_DRIVERKEY_NAME, reply, HCD_REPLY_SIZE,
                                 HCD_REPLY_SIZE, returned);
}

LibraryHandle LoadCfgMgr(CfgMgr *cm, uint32_t *found)
{
    *found = 0;
    LibraryHandle library = PlatformLoadLibrary("CfgMgr32.dll");
    if (library == nullptr)
        return nullptr;
    uint32_t bit = 1;
#define LOOK_UP(tag, name)                                                  \
    cm->tag = (Cm##tag##Function)PlatformGetProcAddress(library, name);    \
    *found |= cm->tag != nullptr ? bit : 0;                                 \
    bit <<= 1;
    PLATFORM_CFGMGR_FUNCTIONS(LOOK_UP)
#undef LOOK_UP
    return library;
}

DevNode LocateRootNode(const CfgMgr *cm)
{
    DevNode root = 0;
    if (cm->Locate(&root, nullptr, 0) != CR_SUCCESS)
        return 0;
    return root;
}

// A configuration manager may report success without writing the node (Wine's CM_Get_Child
// does); that answer, like a null node, means there is none.
DevNode Relative(GetRelativeFunction get, DevNode node)
{
    DevNode relative = 0;
    if (get(&relative, node, 0) != CR_SUCCESS)
        return 0;
    return relative;
}

uint32_t QueryNodeProperty(const CfgMgr *cm, DevNode node, uint32_t property, void *buffer,
                           uint32_t *length)
{
    memset(buffer, 0, *length);
    return cm->Property(node, property, nullptr, buffer, length, 0);
}
