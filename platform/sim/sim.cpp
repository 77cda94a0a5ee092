// The simulated platform's operations, answering from the machine that Sim describes.
#include "platform/sim/sim.h"

#include "art_names.h"
#include "platform/sim/catalogue.h"
#include "report/controls.h"

#include <stdio.h>
#include <string.h>

SimMachine Sim;

static const char *const OpNames[SIM_OP_COUNT] = {
#define SIM_OP_NAME(op, name, writes) name,
    SIM_OPS(SIM_OP_NAME)
#undef SIM_OP_NAME
};

static const bool OpWrites[SIM_OP_COUNT] = {
#define SIM_OP_WRITES(op, name, writes) writes,
    SIM_OPS(SIM_OP_WRITES)
#undef SIM_OP_WRITES
};

const char *SimOpName(SimOp op)
{
    return OpNames[op];
}

bool SimOpWrites(SimOp op)
{
    return OpWrites[op];
}

void SimReset()
{
    Sim = SimMachine();
}

void SimFailCall(SimOp op, uint32_t call, uint32_t written)
{
    Sim.faults.push_back({op, call, written});
}

uint32_t SimTotalCalls()
{
    uint32_t total = 0;
    for (uint32_t count : Sim.calls)
        total += count;
    return total;
}

int SimAddNode(SimMachine *machine, int parent, const char *driver, const char *hardwareId,
               const char *description)
{
    SimCfgMgr &cfgmgr = machine->cfgmgr;
    cfgmgr.present = true;
    SimNode node;
    node.parent = parent;
    if (driver != nullptr) {
        node.hasDriver = true;
        node.driver = std::string(driver) + '\0';
    }
    if (hardwareId != nullptr) {
        node.hasHardwareId = true;
        node.hardwareId = std::string(hardwareId) + '\0' + '\0';
    }
    if (description != nullptr) {
        node.hasDescription = true;
        node.description = std::string(description) + '\0';
    }
    int index = (int)cfgmgr.nodes.size();
    cfgmgr.nodes.push_back(node);
    if (parent >= 0)
        cfgmgr.nodes[parent].children.push_back(index);
    return index;
}

// Counts the call and returns the injected failure that hits it, if any.
static const SimFault *Fails(SimOp op)
{
    uint32_t call = ++Sim.calls[op];
    Sim.callOrder.push_back(op);
    for (const SimFault &fault : Sim.faults) {
        if (fault.op == op && (fault.call == 0 || fault.call == call)) {
            ++Sim.failures[op];
            return &fault;
        }
    }
    return nullptr;
}

// What a failing call leaves in the caller's buffer of room bytes before it reports the
// failure: as much of its output as the failure says. Returns the bytes written.
static uint32_t WriteFirst(const SimFault &fault, void *buffer, uint32_t room,
                           const std::string &output)
{
    size_t count = output.size();
    if (count > room)
        count = room;
    if (count > fault.written)
        count = fault.written;
    memcpy(buffer, output.data(), count);
    return (uint32_t)count;
}

// Code page 1252's bytes 0x80..0x9F; 0 where the code page has no character.
static const uint16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char SimCp1252FromUnicode(uint32_t code)
{
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF))
        return (char)code;
    for (int i = 0; i < 32; ++i) {
        if (Cp1252High[i] != 0 && Cp1252High[i] == code)
            return (char)(0x80 + i);
    }
    return '?';
}

// Code points of a UTF-8 text that the JSON reader has already checked.
static std::vector<uint32_t> CodePoints(const std::string &utf8)
{
    std::vector<uint32_t> codes;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = (unsigned char)utf8[i];
        size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
            code = (code << 6) | ((unsigned char)utf8[i + k] & 0x3F);
        codes.push_back(code);
        i += extra + 1;
    }
    return codes;
}

std::string SimUtf8ToCp1252(const std::string &text)
{
    std::string out;
    for (uint32_t code : CodePoints(text))
        out += SimCp1252FromUnicode(code);
    return out;
}

static void PutUnit(std::string *out, uint32_t unit)
{
    out->push_back((char)(unit & 0xFF));
    out->push_back((char)((unit >> 8) & 0xFF));
}

std::string HcdDriverKeyReply(const std::string &utf8)
{
    std::string text;
    for (uint32_t code : CodePoints(utf8)) {
        if (code >= 0x10000) {
            PutUnit(&text, 0xD800 + ((code - 0x10000) >> 10));
            PutUnit(&text, 0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            PutUnit(&text, code);
        }
    }
    PutUnit(&text, 0);
    uint32_t total = 4 + (uint32_t)text.size();
    if (total > 256)
        return std::string();
    std::string reply;
    PutUnit(&reply, total & 0xFFFF);
    PutUnit(&reply, total >> 16);
    return reply + text;
}

bool PlatformGetVersion(VersionRecord *record)
{
    memset(record, 0, sizeof *record);
    if (Fails(SIM_GET_VERSION) || !Sim.versionKnown)
        return false;
    *record = Sim.version;
    record->csd[sizeof record->csd - 1] = '\0';
    return true;
}

static const char Key9x[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char KeyNt[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";

bool PlatformOpenMachineKey(const char *path, RegistryKey *key)
{
    Sim.keysOpened.push_back(path);
    if (Fails(SIM_OPEN_KEY))
        return false;
    SimRegistryValue *value = nullptr;
    if (strcmp(path, Key9x) == 0)
        value = &Sim.registry9x;
    else if (strcmp(path, KeyNt) == 0)
        value = &Sim.registryNt;
    if (value == nullptr || !value->keyOpens)
        return false;
    ++Sim.keysOpen;
    *key = value;
    return true;
}

bool PlatformQueryValue(RegistryKey key, const char *name, uint8_t *buffer, uint32_t *size,
                        uint32_t *type)
{
    const SimFault *fault = Fails(SIM_QUERY_VALUE);
    const SimRegistryValue *value = (const SimRegistryValue *)key;
    const char *expected = value == &Sim.registry9x ? "VersionNumber" : "CurrentVersion";
    if (strcmp(name, expected) != 0 || !value->present)
        return false;
    if (fault != nullptr) {
        WriteFirst(*fault, buffer, *size, value->bytes);
        return false;
    }
    if (value->bytes.size() > *size)
        return false;
    memcpy(buffer, value->bytes.data(), value->bytes.size());
    *size = (uint32_t)value->bytes.size();
    if (type != nullptr)
        *type = value->type;
    return true;
}

void PlatformCloseKey(RegistryKey)
{
    --Sim.keysOpen;
}

static bool PortDenied()
{
    return Sim.portsDenied ||
           (Sim.portsDeniedFrom != 0 && Sim.portWrites + Sim.portReads >= Sim.portsDeniedFrom);
}

bool PlatformPortWrite32(uint16_t port, uint32_t value)
{
    ++Sim.portWrites;
    if (Fails(SIM_PORT_WRITE) || PortDenied()) {
        ++Sim.portFaults;
        return false;
    }
    if (port == 0xCF8)
        Sim.portAddress = value;
    return true;
}

bool PlatformPortRead32(uint16_t port, uint32_t *value)
{
    ++Sim.portReads;
    if (Fails(SIM_PORT_READ) || PortDenied()) {
        ++Sim.portFaults;
        return false;
    }
    *value = 0xFFFFFFFF;
    uint32_t address = Sim.portAddress;
    if (port != 0xCFC || !(address & 0x80000000u) || (address & 0xFC) != 0)
        return true;
    for (const SimPciFunction &f : Sim.pci) {
        if (f.bus == ((address >> 16) & 0xFF) && f.device == ((address >> 11) & 0x1F) &&
            f.function == ((address >> 8) & 0x07))
            *value = f.id;
    }
    return true;
}

static SimHcd *HcdOf(DeviceHandle device)
{
    return (SimHcd *)device;
}

DeviceHandle PlatformOpenDevice(const char *path)
{
    Sim.openedPaths.push_back(path);
    if (Fails(SIM_OPEN_DEVICE))
        return nullptr;
    for (SimHcd &hcd : Sim.hcds) {
        char name[16];
        snprintf(name, sizeof name, "\\\\.\\HCD%d", hcd.index);
        if (strcmp(path, name) == 0) {
            ++Sim.devicesOpen;
            return &hcd;
        }
    }
    return nullptr;
}

bool PlatformDeviceRequest(DeviceHandle device, uint32_t code, void *buffer, uint32_t inSize,
                           uint32_t outSize, uint32_t *returned)
{
    Sim.lastRequestCode = code;
    Sim.lastRequestIn = inSize;
    Sim.lastRequestOut = outSize;
    const SimHcd *hcd = HcdOf(device);
    const SimFault *fault = Fails(SIM_DEVICE_REQUEST);
    if (code != 0x220424 || !hcd->requestSucceeds)
        return false;
    if (fault != nullptr) {
        // A request that fails for want of room still counts the bytes it wrote.
        *returned = WriteFirst(*fault, buffer, outSize, hcd->reply);
        return false;
    }
    size_t copied = hcd->reply.size() < outSize ? hcd->reply.size() : outSize;
    memcpy(buffer, hcd->reply.data(), copied);
    *returned = hcd->replyCount;
    return true;
}

void PlatformCloseDevice(DeviceHandle)
{
    --Sim.devicesOpen;
}

void PlatformWideToAnsi(const uint16_t *text, char *out, uint32_t outSize)
{
    uint32_t n = 0;
    for (; text[n] != 0 && n + 1 < outSize; ++n)
        out[n] = SimCp1252FromUnicode(text[n]);
    out[n] = '\0';
}

// The simulated configuration manager library.

// The node a handle names; none for a handle never handed out or a node that answers nothing.
static const SimNode *NodeOf(uint32_t handle)
{
    if (handle == 0 || handle > Sim.cfgmgr.nodes.size() || Sim.cfgmgr.nodes[handle - 1].invalid)
        return nullptr;
    return &Sim.cfgmgr.nodes[handle - 1];
}

static bool SucceedsWithoutNode(SimOp op)
{
    for (SimOp silent : Sim.cfgmgr.successWithoutNode) {
        if (silent == op)
            return true;
    }
    return false;
}

static uint32_t PLATFORM_API SimCmLocate(uint32_t *node, const char *deviceId, uint32_t)
{
    if (Fails(SIM_CM_LOCATE) || deviceId != nullptr)
        return CR_FAILURE;
    if (!Sim.cfgmgr.rootLocates || Sim.cfgmgr.nodes.empty())
        return SucceedsWithoutNode(SIM_CM_LOCATE) ? CR_SUCCESS : CR_FAILURE;
    *node = 1;
    return CR_SUCCESS;
}

// A node's property value as handed out; none when the node lacks it.
static const std::string *PropertyOf(const SimNode &node, uint32_t property)
{
    if (property == CM_DRP_DRIVER && node.hasDriver)
        return &node.driver;
    if (property == CM_DRP_HARDWAREID && node.hasHardwareId)
        return &node.hardwareId;
    if (property == CM_DRP_DEVICEDESC && node.hasDescription)
        return &node.description;
    return nullptr;
}

static uint32_t PLATFORM_API SimCmProperty(uint32_t node, uint32_t property, uint32_t *type,
                                            void *buffer, uint32_t *length, uint32_t)
{
    const SimFault *fault = Fails(SIM_CM_PROPERTY);
    const SimNode *n = NodeOf(node);
    const std::string *value = n != nullptr ? PropertyOf(*n, property) : nullptr;
    if (fault != nullptr) {
        if (value != nullptr && length != nullptr)
            WriteFirst(*fault, buffer, *length, *value);
        return CR_FAILURE;
    }
    if (n == nullptr)
        return CR_INVALID_DEVNODE;
    if (length == nullptr)
        return CR_INVALID_POINTER;
    if (value == nullptr)
        return CR_NO_SUCH_VALUE;
    if (type != nullptr)
        *type = property == CM_DRP_HARDWAREID ? 7 : 1;  // REG_MULTI_SZ or REG_SZ
    if (value->size() > *length) {
        *length = (uint32_t)value->size();
        return CR_BUFFER_SMALL;
    }
    memcpy(buffer, value->data(), value->size());
    *length = (uint32_t)value->size();
    return CR_SUCCESS;
}

static uint32_t Relative(SimOp op, uint32_t *out, uint32_t node)
{
    if (Fails(op))
        return CR_FAILURE;
    const SimNode *n = NodeOf(node);
    if (n == nullptr)
        return CR_INVALID_DEVNODE;
    int found = -1;
    if (op == SIM_CM_CHILD) {
        if (!n->children.empty())
            found = n->children.front();
    } else if (op == SIM_CM_PARENT) {
        found = n->parent;
    } else if (n->parent >= 0) {
        const std::vector<int> &siblings = Sim.cfgmgr.nodes[n->parent].children;
        for (size_t i = 0; i + 1 < siblings.size(); ++i) {
            if (siblings[i] == (int)node - 1)
                found = siblings[i + 1];
        }
    }
    if (found < 0)
        return SucceedsWithoutNode(op) ? CR_SUCCESS : CR_NO_SUCH_DEVNODE;
    *out = (uint32_t)found + 1;
    return CR_SUCCESS;
}

static uint32_t PLATFORM_API SimCmChild(uint32_t *out, uint32_t node, uint32_t)
{
    return Relative(SIM_CM_CHILD, out, node);
}

static uint32_t PLATFORM_API SimCmSibling(uint32_t *out, uint32_t node, uint32_t)
{
    return Relative(SIM_CM_SIBLING, out, node);
}

static uint32_t PLATFORM_API SimCmParent(uint32_t *out, uint32_t node, uint32_t)
{
    return Relative(SIM_CM_PARENT, out, node);
}

LibraryHandle PlatformLoadLibrary(const char *name)
{
    if (Fails(SIM_LOAD_LIBRARY) || !Sim.cfgmgr.present || strcasecmp(name, "CfgMgr32.dll") != 0)
        return nullptr;
    ++Sim.librariesLoaded;
    return &Sim.cfgmgr;
}

void *PlatformGetProcAddress(LibraryHandle, const char *name)
{
    Sim.procsLookedUp.push_back(name);
    if (Fails(SIM_GET_PROC))
        return nullptr;
    for (const std::string &missing : Sim.cfgmgr.missing) {
        if (missing == name)
            return nullptr;
    }
    static const struct {
        const char *name;
        void *address;
    } exports[] = {
#define EXPORT(tag, name) {name, (void *)SimCm##tag},
        PLATFORM_CFGMGR_FUNCTIONS(EXPORT)
#undef EXPORT
    };
    for (const auto &e : exports) {
        if (strcmp(e.name, name) == 0)
            return e.address;
    }
    return nullptr;
}

void PlatformFreeLibrary(LibraryHandle)
{
    ++Sim.librariesFreed;
}

uint32_t PlatformLoadMessage(uint32_t number, char *buffer, uint32_t capacity)
{
    if (capacity == 0)
        return 0;
    if (Fails(SIM_LOAD_MESSAGE)) {
        buffer[0] = '\0';
        return 0;
    }
    return CopyCatalogueText(number, buffer, capacity);
}

void PlatformFormat(char *out, uint32_t capacity, const char *format, va_list args)
{
    vsnprintf(out, capacity, format, args);
}

void PlatformSetControlText(Window, int control, const char *text)
{
    if (Fails(SIM_SET_TEXT))
        return;
    if (control == IDC_MORE_INFO)
        Sim.panel = text;
    else if (control == IDC_HEADLINE)
        Sim.headline = text;
}

void PlatformAddListItem(Window, int control, const char *text)
{
    if (Fails(SIM_ADD_ITEM) || control != IDC_DETAILS_LIST)
        return;
    Sim.details.push_back(text);
}

void PlatformSetListTabStops(Window, int control, const int *stops, int count)
{
    if (Fails(SIM_SET_TAB_STOPS) || control != IDC_DETAILS_LIST)
        return;
    Sim.tabStops.assign(stops, stops + count);
}

// The icon resources of the program's module; a handle points at its entry.
static const char *const IconNames[] = {
#define ICON_NAME(name) name,
    ART_ICONS(ICON_NAME)
#undef ICON_NAME
};

IconHandle PlatformLoadIcon(const char *name)
{
    Sim.iconsLoaded.push_back(name);
    if (Fails(SIM_LOAD_ICON))
        return nullptr;
    for (const char *const &icon : IconNames) {
        // Resource names are matched without regard to case.
        if (strcasecmp(icon, name) == 0)
            return (IconHandle)&icon;
    }
    return nullptr;
}

void PlatformSetControlIcon(Window, int control, IconHandle icon)
{
    if (Fails(SIM_SET_ICON) || control != IDC_STATUS_ICON)
        return;
    Sim.iconsShown.push_back(icon == nullptr ? "" : *(const char *const *)icon);
}

void PlatformStartTimer(Window, uint32_t id, uint32_t milliseconds)
{
    if (Fails(SIM_START_TIMER))
        return;
    Sim.timerStarted = true;
    Sim.timerId = id;
    Sim.timerPeriod = milliseconds;
}
