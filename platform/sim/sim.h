// The simulated platform: a machine described by plain data, failures injected on demand, and
// a record of everything the core asked of it.
#ifndef QORVALIN_SIM_H
#define QORVALIN_SIM_H

#include "platform/platform.h"

#include <string>
#include <vector>

// Every operation of the seam that can be made to fail: X(enumerator, name in messages, whether
// it hands out bytes that a failing call may already have written in part).
#define SIM_OPS(X)                                \
    X(SIM_GET_VERSION, "get-version", false)      \
    X(SIM_OPEN_KEY, "open-key", false)            \
    X(SIM_QUERY_VALUE, "query-value", true)       \
    X(SIM_PORT_WRITE, "port-write", false)        \
    X(SIM_PORT_READ, "port-read", false)          \
    X(SIM_OPEN_DEVICE, "open-device", false)      \
    X(SIM_DEVICE_REQUEST, "device-request", true) \
    X(SIM_LOAD_LIBRARY, "load-library", false)    \
    X(SIM_GET_PROC, "get-proc", false)            \
    X(SIM_CM_LOCATE, "cm-locate", false)          \
    X(SIM_CM_PROPERTY, "cm-property", true)       \
    X(SIM_CM_CHILD, "cm-child", false)            \
    X(SIM_CM_SIBLING, "cm-sibling", false)        \
    X(SIM_CM_PARENT, "cm-parent", false)          \
    X(SIM_SET_TEXT, "set-text", false)            \
    X(SIM_ADD_ITEM, "add-item", false)            \
    X(SIM_SET_TAB_STOPS, "set-tab-stops", false)  \
    X(SIM_LOAD_ICON, "load-icon", false)          \
    X(SIM_SET_ICON, "set-icon", false)            \
    X(SIM_START_TIMER, "start-timer", false)      \
    X(SIM_LOAD_MESSAGE, "load-message", false)

enum SimOp {
#define SIM_OP_ENUMERATOR(op, name, writes) op,
    SIM_OPS(SIM_OP_ENUMERATOR)
#undef SIM_OP_ENUMERATOR
    SIM_OP_COUNT
};

const char *SimOpName(SimOp op);
// True for the operations whose failing call can leave part of its output behind.
bool SimOpWrites(SimOp op);

// A registry location: the key may not open, the value may be missing, or it holds raw bytes.
struct SimRegistryValue {
    bool keyOpens = false;
    bool present = false;
    std::string bytes;
    uint32_t type = 1;  // REG_SZ
};

struct SimPciFunction {
    uint32_t bus = 0;
    uint32_t device = 0;
    uint32_t function = 0;
    uint32_t id = 0xFFFFFFFF;
};

// A host controller driver device \\.\HCDn that opens.
struct SimHcd {
    int index = 0;
    bool requestSucceeds = false;
    std::string reply;        // the driver's reply bytes
    uint32_t replyCount = 0;  // the byte count the driver reports
};

// A device node; its handle is its index + 1. Property values are stored as the bytes the
// configuration manager hands out, terminators included.
struct SimNode {
    // The node's handle is handed out, but every query on it fails as on a node that no
    // longer exists (CR_INVALID_DEVNODE), its parent query included.
    bool invalid = false;
    bool hasDriver = false;
    bool hasHardwareId = false;
    bool hasDescription = false;
    std::string driver;
    std::string hardwareId;
    std::string description;
    int parent = -1;
    std::vector<int> children;
};

struct SimCfgMgr {
    bool present = false;
    bool rootLocates = true;
    std::vector<std::string> missing;  // function names the library lacks
    std::vector<SimNode> nodes;        // nodes[0] is the root
    // Calls (SIM_CM_LOCATE, SIM_CM_CHILD, SIM_CM_SIBLING, SIM_CM_PARENT) that, with no node to
    // give, report CR_SUCCESS and leave the out-parameter as it was, as Wine's CM_Get_Child does.
    std::vector<SimOp> successWithoutNode;
};

struct SimFault {
    SimOp op;
    uint32_t call;  // fails the n-th call (counting from 1); 0 fails every call
    // The failing call first writes this many bytes of what it would have handed out (a
    // registry value, a driver's reply, a property), at most the room it was given, as Windows
    // may leave part of a value that does not fit. Only the operations that SimOpWrites names.
    uint32_t written = 0;
};

struct SimMachine {
    // The machine.
    bool versionKnown = false;
    VersionRecord version = {};
    SimRegistryValue registry9x;  // "VersionNumber" under Software\Microsoft\Windows\CurrentVersion
    SimRegistryValue registryNt;  // "CurrentVersion" under Software\Microsoft\Windows NT\CurrentVersion
    bool portsDenied = false;
    uint32_t portsDeniedFrom = 0;  // every port access from this one on faults; 0: none
    std::vector<SimPciFunction> pci;
    std::vector<SimHcd> hcds;
    SimCfgMgr cfgmgr;

    // Injected failures.
    std::vector<SimFault> faults;

    // What was asked.
    uint32_t calls[SIM_OP_COUNT] = {};
    std::vector<SimOp> callOrder;  // every call, in the order made
    uint32_t failures[SIM_OP_COUNT] = {};
    uint32_t portWrites = 0;
    uint32_t portReads = 0;
    uint32_t portFaults = 0;
    uint32_t portAddress = 0;
    std::vector<std::string> openedPaths;
    std::vector<std::string> keysOpened;
    uint32_t keysOpen = 0;
    uint32_t devicesOpen = 0;
    uint32_t librariesLoaded = 0;
    uint32_t librariesFreed = 0;
    std::vector<std::string> procsLookedUp;
    uint32_t lastRequestCode = 0;
    uint32_t lastRequestIn = 0;
    uint32_t lastRequestOut = 0;

    // What the main dialog shows.
    std::string panel;
    std::string headline;
    std::vector<std::string> details;
    std::vector<int> tabStops;
    std::vector<std::string> iconsLoaded;  // names asked for, in order
    std::vector<std::string> iconsShown;   // names shown in the status icon, "" for no icon
    bool timerStarted = false;
    uint32_t timerId = 0;
    uint32_t timerPeriod = 0;
};

extern SimMachine Sim;

// Back to an empty machine (the version query fails, nothing opens) with a clean record.
void SimReset();
void SimFailCall(SimOp op, uint32_t call, uint32_t written = 0);
uint32_t SimTotalCalls();

// Adds a device node to the machine's configuration manager below parent (-1 for the root) and
// returns its index; a null property cannot be read. The hardware ID becomes a multi-string of
// one.
int SimAddNode(SimMachine *machine, int parent, const char *driver,
               const char *hardwareId = nullptr, const char *description = nullptr);

// Text conversions of the simulated system, whose ANSI code page is 1252.
std::string SimUtf8ToCp1252(const std::string &text);
char SimCp1252FromUnicode(uint32_t code);

// A driver key name as the host controller driver replies with it: the whole reply's size in
// 4 bytes, then the UTF-16LE text and its terminator. Empty when it would not fit 256 bytes.
std::string HcdDriverKeyReply(const std::string &utf8);

#endif
