// QVDUMP's recorder: the version record, both registry version values, register 0 of every
// function of PCI bus 0, each host controller device's answer to the driver key request and
// the configuration manager's device tree, written as a scenario file as they are asked.
#include "dump/record.h"

#include "probes/hostctl.h"
#include "probes/queries.h"

#include <string.h>

enum : uint32_t {
    // More room than Qorvalin gives a value, so that one too large for it is recorded whole
    // and replays as too large.
    VALUE_ROOM = 1024,
    // The recording of the device tree ends where Qorvalin's search would give up.
    MAX_RECORDED_NODES = MAX_TREE_STEPS,
    NODE_SET_SIZE = 2 * MAX_RECORDED_NODES,  // a power of two, half filled at most
    INDENTED_LEVELS = 16,
    REG_SZ = 1,
};

struct Output {
    RecordWriter write;
    void *context;
    bool firstMember;
};

static void Put(Output *out, const char *text)
{
    out->write(out->context, text, (uint32_t)strlen(text));
}

static void PutNumber(Output *out, uint32_t value)
{
    char digits[11];
    char *at = digits + sizeof digits;
    *--at = '\0';
    do {
        *--at = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    Put(out, at);
}

static const char HexDigits[] = "0123456789ABCDEF";

// A 32-bit value as the scenario's hex text, "0x" and eight digits.
static void PutHex32(Output *out, uint32_t value)
{
    char text[] = "\"0x00000000\"";
    for (int i = 0; i < 8; ++i)
        text[10 - i] = HexDigits[(value >> (4 * i)) & 0xF];
    Put(out, text);
}

// Starts a member of the top-level object.
static void Member(Output *out, const char *key)
{
    Put(out, out->firstMember ? "{\n  \"" : ",\n  \"");
    out->firstMember = false;
    Put(out, key);
    Put(out, "\": ");
}

// Starts an element of a top-level member's array, each on a line of its own.
static void Element(Output *out, bool *first)
{
    Put(out, *first ? "\n    " : ",\n    ");
    *first = false;
}

// Printable ASCII, which a scenario's text carries as it is; anything else goes as bytes.
static bool IsPlain(const uint8_t *bytes, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i) {
        if (bytes[i] < 0x20 || bytes[i] > 0x7E)
            return false;
    }
    return true;
}

static void PutText(Output *out, const uint8_t *bytes, uint32_t size)
{
    Put(out, "\"");
    for (uint32_t i = 0; i < size; ++i) {
        char c[3] = {'\\', (char)bytes[i], '\0'};
        Put(out, bytes[i] == '"' || bytes[i] == '\\' ? c : c + 1);
    }
    Put(out, "\"");
}

// {"bytes": "HEX" and, left open, whatever the caller adds before its closing brace.
static void PutBytesOpen(Output *out, const uint8_t *bytes, uint32_t size)
{
    Put(out, "{\"bytes\": \"");
    for (uint32_t i = 0; i < size; ++i) {
        char pair[3] = {HexDigits[bytes[i] >> 4], HexDigits[bytes[i] & 0xF], '\0'};
        Put(out, pair);
    }
    Put(out, "\"");
}

static void PutBytes(Output *out, const uint8_t *bytes, uint32_t size)
{
    PutBytesOpen(out, bytes, size);
    Put(out, "}");
}

// A value that is one text and its terminator as a text, any other as its bytes.
static void PutTextValue(Output *out, const uint8_t *bytes, uint32_t size)
{
    if (size > 0 && bytes[size - 1] == 0 && IsPlain(bytes, size - 1))
        PutText(out, bytes, size - 1);
    else
        PutBytes(out, bytes, size);
}

static void RecordVersion(Output *out)
{
    VersionRecord version;
    if (!PlatformGetVersion(&version))
        return;
    Member(out, "version");
    Put(out, "{\"major\": ");
    PutNumber(out, version.major);
    Put(out, ", \"minor\": ");
    PutNumber(out, version.minor);
    Put(out, ", \"build\": ");
    PutHex32(out, version.build);
    Put(out, ", \"platform\": ");
    PutNumber(out, version.platform);
    Put(out, ", \"csd\": ");
    // With its terminator, as a text value is written.
    PutTextValue(out, (const uint8_t *)version.csd, (uint32_t)strlen(version.csd) + 1);
    Put(out, "}");
}

static void RecordRegistryValue(Output *out, const char *member, const RegistryValue &value,
                                bool *first)
{
    uint8_t buffer[VALUE_ROOM];
    uint32_t size = sizeof buffer;
    uint32_t type = REG_SZ;
    RegistryAnswer answer = QueryRegistryValue(value, buffer, &size, &type);
    if (answer == REGISTRY_NO_KEY)
        return;
    Put(out, *first ? "\"" : ", \"");
    *first = false;
    Put(out, member);
    Put(out, "\": ");
    if (answer == REGISTRY_NO_VALUE) {
        Put(out, "null");
        return;
    }
    if (size > sizeof buffer)
        size = sizeof buffer;
    if (type == REG_SZ) {
        PutTextValue(out, buffer, size);
        return;
    }
    PutBytesOpen(out, buffer, size);
    Put(out, ", \"type\": ");
    PutNumber(out, type);
    Put(out, "}");
}

static void RecordRegistry(Output *out)
{
    Member(out, "registry");
    Put(out, "{");
    bool first = true;
    RecordRegistryValue(out, "9x", RegistryVersion9x, &first);
    RecordRegistryValue(out, "nt", RegistryVersionNt, &first);
    Put(out, "}");
}

// In the order Qorvalin's searches read them: function by function, each over the devices.
static void RecordPci(Output *out)
{
    Member(out, "ports");
    // Qorvalin keeps away from the ports on the NT platform, where user programs fault on them.
    if (GetNtMajorVersion() != 0) {
        Put(out, "\"denied\"");
        return;
    }
    static uint32_t ids[PCI_FUNCTIONS][PCI_DEVICES];
    uint32_t accesses = 0;
    bool denied = false;
    for (uint32_t function = 0; function < PCI_FUNCTIONS && !denied; ++function) {
        for (uint32_t device = 0; device < PCI_DEVICES && !denied; ++device) {
            ids[function][device] = 0xFFFFFFFF;
            if (ReadPciRegister0(device, function, &ids[function][device]))
                accesses += 2;
            else
                denied = true;
        }
    }
    if (!denied) {
        Put(out, "\"allowed\"");
    } else if (accesses == 0) {
        Put(out, "\"denied\"");
    } else {
        // Taken away in the middle: the pair of accesses that faulted is counted from its
        // first.
        Put(out, "{\"deniedFrom\": ");
        PutNumber(out, accesses + 1);
        Put(out, "}");
    }
    Member(out, "pci");
    Put(out, "[");
    bool first = true;
    for (uint32_t read = 0; read < accesses / 2; ++read) {
        uint32_t function = read / PCI_DEVICES;
        uint32_t device = read % PCI_DEVICES;
        if (ids[function][device] == 0xFFFFFFFF)
            continue;
        Element(out, &first);
        Put(out, "{\"device\": ");
        PutNumber(out, device);
        Put(out, ", \"function\": ");
        PutNumber(out, function);
        Put(out, ", \"id\": ");
        PutHex32(out, ids[function][device]);
        Put(out, "}");
    }
    Put(out, "]");
}

// A reply that is the whole reply's size, a UTF-16 text in printable ASCII and its terminator,
// reported at that size, is written as the text, any other as its bytes and count.
static void RecordDriverKey(Output *out, const uint8_t *reply, uint32_t returned)
{
    uint32_t count = returned < HCD_REPLY_SIZE ? returned : (uint32_t)HCD_REPLY_SIZE;
    uint32_t size = (uint32_t)reply[0] | (uint32_t)reply[1] << 8 | (uint32_t)reply[2] << 16 |
                    (uint32_t)reply[3] << 24;
    bool plain = count == returned && size == count && count >= REPLY_NAME_OFFSET + 2 &&
                 count % 2 == 0 && reply[count - 2] == 0 && reply[count - 1] == 0;
    uint8_t text[HCD_REPLY_SIZE / 2];
    uint32_t units = 0;
    for (uint32_t at = REPLY_NAME_OFFSET; plain && at + 2 < count; at += 2) {
        plain = reply[at + 1] == 0 && IsPlain(&reply[at], 1);
        text[units++] = reply[at];
    }
    if (plain) {
        PutText(out, text, units);
        return;
    }
    PutBytesOpen(out, reply, count);
    if (count != returned) {
        Put(out, ", \"count\": ");
        PutNumber(out, returned);
    }
    Put(out, "}");
}

static void RecordHostControllers(Output *out)
{
    Member(out, "hcd");
    Put(out, "[");
    bool first = true;
    for (uint32_t index = 0; index < HCD_COUNT; ++index) {
        DeviceHandle device = OpenHostController(index);
        if (device == nullptr)
            continue;
        Element(out, &first);
        Put(out, "{\"index\": ");
        PutNumber(out, index);
        Put(out, ", \"driverKey\": ");
        uint8_t reply[HCD_REPLY_SIZE];
        uint32_t returned;
        // Qorvalin never asks the first Windows 95 releases' drivers, which do not know the
        // request; to the replay they refuse it.
        if (!IsEarlyWindows95() && RequestDriverKeyName(device, reply, &returned))
            RecordDriverKey(out, reply, returned);
        else
            Put(out, "null");
        Put(out, "}");
        PlatformCloseDevice(device);
    }
    Put(out, "]");
}

// The nodes recorded so far, so that links that lead back to one are not followed again.
static DevNode RecordedNodes[NODE_SET_SIZE];
static uint32_t RecordedCount;
// Whether a link was left unfollowed: back to a recorded node, or past the last one recorded.
static bool TreeCut;

// True for a node not recorded before, while there is room.
static bool FirstVisit(DevNode node)
{
    uint32_t slot = (node * 2654435761u) & (NODE_SET_SIZE - 1);
    while (RecordedNodes[slot] != 0) {
        if (RecordedNodes[slot] == node) {
            TreeCut = true;
            return false;
        }
        slot = (slot + 1) & (NODE_SET_SIZE - 1);
    }
    if (RecordedCount == MAX_RECORDED_NODES) {
        TreeCut = true;
        return false;
    }
    RecordedNodes[slot] = node;
    ++RecordedCount;
    return true;
}

// A hardware ID list of printable texts, each with its terminator, and the list's terminator.
static bool IsPlainList(const uint8_t *bytes, uint32_t size)
{
    if (size == 0 || bytes[size - 1] != 0)
        return false;
    uint32_t start = 0;
    for (uint32_t at = 0; at + 1 < size; ++at) {
        if (bytes[at] != 0)
            continue;
        if (at == start || !IsPlain(bytes + start, at - start))
            return false;
        start = at + 1;
    }
    return start == size - 1;
}

static void PutList(Output *out, const uint8_t *bytes, uint32_t size)
{
    Put(out, "[");
    for (uint32_t at = 0; at + 1 < size; at += (uint32_t)strlen((const char *)bytes + at) + 1) {
        if (at != 0)
            Put(out, ", ");
        PutText(out, bytes + at, (uint32_t)strlen((const char *)bytes + at));
    }
    Put(out, "]");
}

static const char *const PropertyKeys[] = {"driver", "hardwareId", "description"};
static const uint32_t PropertyCodes[] = {CM_DRP_DRIVER, CM_DRP_HARDWAREID, CM_DRP_DEVICEDESC};

// Writes the node's properties, or that it answers nothing, left open; gives its first child
// and next sibling (0 for none), and returns whether it wrote a key.
static bool RecordNode(Output *out, const CfgMgr *cm, DevNode node, bool root, DevNode *child,
                       DevNode *sibling)
{
    static uint8_t values[3][VALUE_ROOM];
    uint32_t sizes[3];
    bool read[3];
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        sizes[i] = VALUE_ROOM;
        read[i] = QueryNodeProperty(cm, node, PropertyCodes[i], values[i], &sizes[i]) ==
                  CR_SUCCESS;
        if (sizes[i] > VALUE_ROOM)
            sizes[i] = VALUE_ROOM;
        any = any || read[i];
    }
    DevNode parent = Relative(cm->Parent, node);
    *child = Relative(cm->Child, node);
    *sibling = Relative(cm->Sibling, node);
    // A node that answers nothing, not even who its parent is, is one removed while the
    // machine was asked: the replay hands it out and has it answer nothing.
    if (!root && !any && parent == 0 && *child == 0 && *sibling == 0) {
        Put(out, "{\"invalid\": true");
        return true;
    }
    Put(out, "{");
    const char *separator = "";
    for (int i = 0; i < 3; ++i) {
        if (!read[i])
            continue;
        Put(out, separator);
        separator = ", ";
        Put(out, "\"");
        Put(out, PropertyKeys[i]);
        Put(out, "\": ");
        // A text stands for one terminator, a list for one more at its end: a hardware ID
        // without that closing terminator (ReactOS leaves it out) is written as its bytes.
        if (PropertyCodes[i] != CM_DRP_HARDWAREID)
            PutTextValue(out, values[i], sizes[i]);
        else if (IsPlainList(values[i], sizes[i]))
            PutList(out, values[i], sizes[i]);
        else
            PutBytes(out, values[i], sizes[i]);
    }
    return *separator != '\0';
}

static void Indent(Output *out, uint32_t depth)
{
    static const char spaces[] = "                                  ";
    uint32_t levels = depth < INDENTED_LEVELS ? depth : (uint32_t)INDENTED_LEVELS;
    Put(out, "\n    ");
    Put(out, spaces + sizeof spaces - 1 - 2 * levels);
}

// Depth first in pre-order from the root, the order Qorvalin searches in, each node written
// as it is reached: its children follow it in its "children" array.
static void RecordTree(Output *out, const CfgMgr *cm, DevNode root)
{
    // The next sibling of the node at each depth on the way down.
    DevNode siblings[SCENARIO_TREE_DEPTH];
    memset(RecordedNodes, 0, sizeof RecordedNodes);
    RecordedCount = 0;
    FirstVisit(root);
    DevNode node = root;
    uint32_t depth = 0;
    for (;;) {
        Indent(out, depth);
        DevNode child;
        bool keyed = RecordNode(out, cm, node, depth == 0, &child, &siblings[depth]);
        if (child != 0 && depth + 1 == SCENARIO_TREE_DEPTH) {
            TreeCut = true;
        } else if (child != 0 && FirstVisit(child)) {
            Put(out, keyed ? ", \"children\": [" : "\"children\": [");
            ++depth;
            node = child;
            continue;
        }
        Put(out, "}");
        // Across to the next sibling, or up until an ancestor has one; the root's siblings
        // are not part of the tree.
        for (;;) {
            if (depth == 0)
                return;
            DevNode next = siblings[depth];
            if (next != 0 && FirstVisit(next)) {
                Put(out, ",");
                node = next;
                break;
            }
            --depth;
            Put(out, "]}");
        }
    }
}

static const char *const CfgMgrFunctionNames[] = {
#define FUNCTION_NAME(tag, name) name,
    PLATFORM_CFGMGR_FUNCTIONS(FUNCTION_NAME)
#undef FUNCTION_NAME
};

static void RecordCfgMgr(Output *out)
{
    CfgMgr cm;
    uint32_t found;
    LibraryHandle library = LoadCfgMgr(&cm, &found);
    if (library == nullptr)
        return;
    Member(out, "cfgmgr");
    Put(out, "{");
    if (found != CFGMGR_ALL_FOUND) {
        Put(out, "\"missing\": [");
        const char *separator = "";
        for (uint32_t i = 0; i < sizeof CfgMgrFunctionNames / sizeof *CfgMgrFunctionNames; ++i) {
            if (found & (1u << i))
                continue;
            Put(out, separator);
            separator = ", ";
            PutText(out, (const uint8_t *)CfgMgrFunctionNames[i],
                    (uint32_t)strlen(CfgMgrFunctionNames[i]));
        }
        Put(out, "]}");
    } else {
        DevNode root = LocateRootNode(&cm);
        if (root == 0) {
            Put(out, "\"root\": false}");
        } else {
            Put(out, "\"tree\":");
            RecordTree(out, &cm, root);
            if (TreeCut)
                Put(out, ",\n    \"why\": \"Some links of the device tree lead back to a node "
                         "recorded before, deeper than a scenario holds or past as many nodes "
                         "as Qorvalin searches; they were not followed.\"");
            Put(out, "}");
        }
    }
    PlatformFreeLibrary(library);
}

bool IsRecording(const char *start, uint32_t size)
{
    // The recorder writes LF; QVDUMP's file has CR LF, and a copy may have either.
    uint32_t at = 0;
    for (const char *head = RecordingHead; *head != '\0'; ++head, ++at) {
        if (*head == '\n' && at < size && start[at] == '\r')
            ++at;
        if (at >= size || start[at] != *head)
            return false;
    }
    return true;
}

void RecordMachine(RecordWriter write, void *context)
{
    Output out = {write, context, true};
    TreeCut = false;
    // What the file is comes first, so that QVDUMP knows a file it may replace.
    Put(&out, RecordingHead);
    Put(&out, " what this machine answered to the questions Qorvalin asks.\"");
    out.firstMember = false;
    RecordVersion(&out);
    RecordRegistry(&out);
    RecordPci(&out);
    RecordHostControllers(&out);
    RecordCfgMgr(&out);
    Put(&out, "\n}\n");
}
