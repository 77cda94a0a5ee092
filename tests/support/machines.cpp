// The fault sweep's machines: Windows families crossed with hardware sets, and scenario files.
#include "tests/support/machines.h"

#include "probes/hostctl.h"
#include "sim/scenario.h"

#include <algorithm>
#include <filesystem>

namespace {

struct Family {
    const char *name;
    bool versionKnown;
    VersionRecord version;   // major, minor, build, platform, service pack
    const char *registry9x;  // null: the key does not open
    const char *registryNt;
    SupportFlags os;
};

const Family Families[] = {
    {"windows95", true, {4, 0, 0x040003B6, 1, ""}, "4.00.950", nullptr, SUPPORT_NO},
    {"windows95-osr2", true, {4, 0, 0x040004BE, 1, " B "}, "4.03.1214", nullptr, SUPPORT_MAYBE},
    {"windows95-1212", true, {4, 0, 0x040004BC, 1, ""}, "4.03.1212", nullptr, SUPPORT_NO},
    {"windows98", true, {4, 10, 0x040A08AE, 1, " A "}, "4.10.2222", nullptr, SUPPORT_YES},
    {"windows-me", true, {4, 90, 0x045A0BB8, 1, ""}, "4.90.3000", nullptr, SUPPORT_YES},
    {"windows-nt4", true, {4, 0, 1381, 2, "Service Pack 6"}, nullptr, "4.0", SUPPORT_NO},
    {"windows-2000", true, {5, 0, 2195, 2, "Service Pack 4"}, nullptr, "5.0", SUPPORT_YES},
    {"windows-xp", true, {5, 1, 2600, 2, "Service Pack 2"}, nullptr, "5.1", SUPPORT_YES},
    {"win32s", true, {3, 10, 0x0A03, 0, ""}, "3.10", nullptr, SUPPORT_NO},
    {"unknown-platform", true, {6, 0, 6000, 3, ""}, "6.0", "6.0", SUPPORT_UNKNOWN},
    {"no-version", false, {0, 0, 0, 0, ""}, "4.10.2222", nullptr, SUPPORT_UNKNOWN},
};

// A node whose hardware IDs go on past the first, as real ones do.
int AddNode(SimMachine *m, int parent, const char *driver, const char *hardwareId = nullptr,
            const char *description = nullptr)
{
    int index = SimAddNode(m, parent, driver, hardwareId, description);
    std::string &ids = m->cfgmgr.nodes[index].hardwareId;
    if (hardwareId != nullptr)
        ids.insert(ids.size() - 1, std::string("PCI\\VEN_8086") + '\0');
    return index;
}

const char UhciKey[] = "{36FC9E60-C465-11CF-8056-444553540000}\\0000";
const char OhciKey[] = "{36FC9E60-C465-11CF-8056-444553540000}\\0001";
const char AcpiKey[] = "{36FC9E60-C465-11CF-8056-444553540000}\\0002";
const char LostKey[] = "{36FC9E60-C465-11CF-8056-444553540000}\\0009";

// Four host controller devices: one found with every property, one found with a hardware ID
// that names no vendor and no description, one whose driver refuses the request, one whose
// name no node carries. The nodes sit at several depths, so the search climbs, twice out of a
// node that answers nothing.
void AddControllers(SimMachine *m)
{
    AddHcd(m, 0, UhciKey);
    AddHcd(m, 3, AcpiKey);
    AddHcd(m, 5, nullptr);
    AddHcd(m, 8, LostKey);
    int root = AddNode(m, -1, nullptr);
    int system = AddNode(m, root, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0000");
    int pci = AddNode(m, system, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0001");
    AddNode(m, pci, "{4D36E96A-E325-11CE-BFC1-08002BE10318}\\0000",
            "PCI\\VEN_8086&DEV_7111&SUBSYS_00000000&REV_01", "Intel 82371AB/EB PCI Bus Master IDE");
    AddNode(m, pci, nullptr, "PCI\\VEN_8086&DEV_7113");
    AddNode(m, pci, UhciKey, "PCI\\VEN_8086&DEV_7112&SUBSYS_00000000&REV_01",
            "Intel 82371AB/EB PCI to USB Universal Host Controller");
    int isa = AddNode(m, pci, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0002");
    AddNode(m, isa, "{4D36E96B-E325-11CE-BFC1-08002BE10318}\\0000", "*PNP0303",
            "Standard 101/102-Key Keyboard");
    // A printer port holding a printer (with a node of its own) and then a node that answers
    // no query, its parent query included; another such node after the ISA bus, reached
    // across after the search climbs out of the port.
    int lpt = AddNode(m, isa, "{4D36E978-E325-11CE-BFC1-08002BE10318}\\0000", "*PNP0400",
                      "Printer Port (LPT1)");
    int printer = AddNode(m, lpt, "{4D36E979-E325-11CE-BFC1-08002BE10318}\\0000", "LPTENUM\\PRINTER");
    AddNode(m, printer, nullptr);
    m->cfgmgr.nodes[AddNode(m, lpt, nullptr)].invalid = true;
    m->cfgmgr.nodes[AddNode(m, pci, nullptr)].invalid = true;
    AddNode(m, system, OhciKey, "PCI\\VEN_1045&DEV_C861", "OPTi 82C861 PCI to USB Open Host Controller");
    int acpi = AddNode(m, root, "{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0003");
    AddNode(m, acpi, AcpiKey, "ACPI\\PNP0A03");
    AddNode(m, root, "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000", "PCI\\VEN_5333&DEV_8A01",
            "S3 Trio3D");
}

// The PCI functions (bus, device, function, ID), and whether the host controllers are there
// and the ports denied.
struct Hardware {
    const char *name;
    std::vector<SimPciFunction> pci;
    bool controllers, portsDenied;
};

const Hardware HardwareSets[] = {
    {"bare", {}, false, false}, {"piix3-without-usb", {{0, 7, 0, 0x70008086}}, false, false},
    {"chipsets",
     {{0, 7, 0, 0x70008086}, {0, 7, 2, 0x70208086}, {0, 9, 2, 0x71128086}, {0, 20, 0, 0x523710B9}},
     false, false},
    {"controllers", {}, true, false},
    {"chipsets-and-controllers", {{0, 7, 0, 0x70008086}, {0, 11, 0, 0xC8611045}}, true, false},
    {"ports-denied", {{0, 7, 0, 0x70008086}, {0, 9, 2, 0x71128086}}, true, true},
};

// The walk of the host controller probe's searches, and the calls it has counted so far.
struct Walker { const SimMachine *machine; ControllerWalk *walk; };

// Counts a call as the platform does; false when an injected failure takes it.
bool Answered(Walker *w, SimOp op)
{
    uint32_t call = ++w->walk->calls[op];
    const std::vector<SimFault> &faults = w->machine->faults;
    return std::none_of(faults.begin(), faults.end(), [&](const SimFault &fault) {
        return fault.op == op && (fault.call == 0 || fault.call == call);
    });
}

// The node a handle names, if it answers queries at all.
const SimNode *LiveNode(const SimCfgMgr &cm, int node)
{
    bool live = node >= 0 && node < (int)cm.nodes.size() && !cm.nodes[node].invalid;
    return live ? &cm.nodes[node] : nullptr;
}

// The first child, next sibling or parent of a node; -1 when the query fails or names none.
int Relative(Walker *w, SimOp op, int node)
{
    const SimCfgMgr &cm = w->machine->cfgmgr;
    const SimNode *n = LiveNode(cm, node);
    if (!Answered(w, op) || n == nullptr)
        return -1;
    if (op == SIM_CM_CHILD)
        return n->children.empty() ? -1 : n->children.front();
    if (op == SIM_CM_PARENT)
        return n->parent;
    if (n->parent < 0)
        return -1;
    const std::vector<int> &siblings = cm.nodes[n->parent].children;
    auto at = std::find(siblings.begin(), siblings.end(), node) + 1;
    return at < siblings.end() ? *at : -1;
}

// Whether the node's driver property, read into the search's buffer, is the name: a value that
// does not fit, or brings no terminator within the buffer, is not read.
bool CarriesName(Walker *w, int node, const std::string &name)
{
    const SimNode *n = LiveNode(w->machine->cfgmgr, node);
    if (!Answered(w, SIM_CM_PROPERTY) || n == nullptr || !n->hasDriver ||
        n->driver.size() > PROPERTY_SIZE)
        return false;
    size_t end = n->driver.find('\0');
    if (end == std::string::npos && n->driver.size() == PROPERTY_SIZE)
        return false;
    return n->driver.substr(0, end) == name;
}

enum Outcome { CLIMBED, FOUND, ENDED };

// Out of a node with no way on below or across: up to the parent it names; when it names none,
// to the node the search came down from, or else to the parent its elder sibling names. With
// none of them the search ends: at the root, or lost.
Outcome Climb(Walker *w, int node, bool cameDown, int elder)
{
    if (Relative(w, SIM_CM_PARENT, node) >= 0 || cameDown)
        return CLIMBED;
    return elder >= 0 && Relative(w, SIM_CM_PARENT, elder) >= 0 ? CLIMBED : ENDED;
}

// The siblings from node on, each followed by what lies below it, then the climb out of them.
// cameDown: the search came down to them from their parent and has not climbed since.
Outcome WalkSiblings(Walker *w, int node, bool cameDown, const std::string &name, int *found)
{
    int elder = -1;
    for (;;) {
        if (CarriesName(w, node, name)) {
            *found = node;
            return FOUND;
        }
        int child = Relative(w, SIM_CM_CHILD, node);
        if (child >= 0) {
            Outcome below = WalkSiblings(w, child, true, name, found);
            if (below != CLIMBED)
                return below;
            cameDown = false;
            elder = -1;
        }
        int next = Relative(w, SIM_CM_SIBLING, node);
        if (next < 0)
            return Climb(w, node, cameDown, elder);
        elder = node;
        node = next;
    }
}

// A tree whose links agree: each node below the root listed once by its parent, which comes
// before it, so that the walk ends; and small enough that the search's bound does not matter.
bool IsTree(const SimCfgMgr &cm)
{
    int size = (int)cm.nodes.size();
    if (size > MAX_TREE_STEPS / 4 || (size > 0 && cm.nodes[0].parent != -1))
        return false;
    for (int i = 0; i < size; ++i) {
        const SimNode &node = cm.nodes[i];
        for (int child : node.children)
            if (child <= 0 || child >= size || cm.nodes[child].parent != i)
                return false;
        if (i > 0 && (node.parent < 0 || node.parent >= i ||
                      std::count(cm.nodes[node.parent].children.begin(),
                                 cm.nodes[node.parent].children.end(), i) != 1))
            return false;
    }
    return true;
}

// The driver key name in a driver's reply: UTF-16 from offset 4 up to its terminator, within
// the bytes the driver says it returned and the 256-byte buffer, in code page 1252.
std::string ReplyName(const SimHcd &hcd)
{
    uint32_t count = hcd.replyCount < HCD_REPLY_SIZE ? hcd.replyCount : (uint32_t)HCD_REPLY_SIZE;
    auto byte = [&hcd](uint32_t at) {
        return at < hcd.reply.size() ? (uint32_t)(unsigned char)hcd.reply[at] : 0u;
    };
    std::string name;
    for (uint32_t at = 4; at + 1 < count && (byte(at) | byte(at + 1)) != 0; at += 2)
        name += SimCp1252FromUnicode(byte(at) | byte(at + 1) << 8);
    return name;
}

// The name a controller's driver gives, with the calls it takes; empty when there is none.
std::string ControllerName(Walker *w, int index)
{
    const SimMachine &m = *w->machine;
    if (!Answered(w, SIM_OPEN_DEVICE))
        return std::string();
    auto hcd = std::find_if(m.hcds.begin(), m.hcds.end(),
                            [index](const SimHcd &candidate) { return candidate.index == index; });
    if (hcd == m.hcds.end())
        return std::string();
    ++w->walk->opened;
    // The first Windows 95 drivers are not asked.
    const VersionRecord &v = m.version;
    bool early95 = m.versionKnown && v.platform == PLATFORM_WIN32_WINDOWS &&
                   (v.major < 4 || (v.major == 4 && v.minor == 0));
    if (early95 || !Answered(w, SIM_DEVICE_REQUEST) || !hcd->requestSucceeds)
        return std::string();
    return ReplyName(*hcd);
}

// Whether one controller's search gets the library, its five functions and the root, with the
// calls that takes; the root is the tree's first node.
bool RootLocated(Walker *w)
{
    const SimCfgMgr &cm = w->machine->cfgmgr;
    if (!Answered(w, SIM_LOAD_LIBRARY) || !cm.present)
        return false;
    bool whole = true;
#define LOOK_UP(tag, name)                                                                      \
    whole = Answered(w, SIM_GET_PROC) &&                                                       \
            std::find(cm.missing.begin(), cm.missing.end(), name) == cm.missing.end() && whole;
    PLATFORM_CFGMGR_FUNCTIONS(LOOK_UP)
#undef LOOK_UP
    return whole && Answered(w, SIM_CM_LOCATE) && cm.rootLocates && !cm.nodes.empty();
}

}  // namespace

ControllerWalk WalkControllers(const SimMachine &machine)
{
    ControllerWalk walk;
    walk.known = IsTree(machine.cfgmgr);
    if (!walk.known)
        return walk;
    Walker w = {&machine, &walk};
    for (int index = 0; index < 10; ++index) {
        std::string name = ControllerName(&w, index);
        int found = -1;
        if (name.empty() || !RootLocated(&w) || WalkSiblings(&w, 0, false, name, &found) != FOUND)
            continue;
        bool idRead = Answered(&w, SIM_CM_PROPERTY);
        bool descriptionRead = Answered(&w, SIM_CM_PROPERTY);
        walk.found.push_back({found, !idRead, !descriptionRead});
    }
    return walk;
}

void AddHcd(SimMachine *machine, int index, const char *driverKey)
{
    std::string reply = driverKey != nullptr ? HcdDriverKeyReply(driverKey) : std::string();
    machine->hcds.push_back({index, !reply.empty(), reply, (uint32_t)reply.size()});
}

std::vector<SweepMachine> RepresentativeMachines()
{
    std::vector<SweepMachine> machines;
    for (const Family &family : Families) {
        for (const Hardware &hardware : HardwareSets) {
            SweepMachine sweep{std::string(family.name) + "/" + hardware.name, {}, family.os};
            SimMachine &m = sweep.machine;
            m.versionKnown = family.versionKnown;
            m.version = family.version;
            if (family.registry9x != nullptr)
                m.registry9x = {true, true, std::string(family.registry9x) + '\0'};
            if (family.registryNt != nullptr)
                m.registryNt = {true, true, std::string(family.registryNt) + '\0'};
            m.pci = hardware.pci;
            m.portsDenied = hardware.portsDenied;
            if (hardware.controllers)
                AddControllers(&m);
            machines.push_back(sweep);
        }
    }
    return machines;
}

std::vector<SweepMachine> ScenarioFileMachines(const std::string &folder)
{
    std::vector<std::string> paths;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".json")
            paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());

    std::vector<SweepMachine> machines;
    for (const std::string &path : paths) {
        SweepMachine sweep{path.substr(folder.size() + 1), {}, 0};
        std::string error;
        if (ReadScenarioFile(path, &sweep.machine, &error))
            machines.push_back(sweep);
    }
    return machines;
}

int AddNodeAt(SimMachine *machine, uint32_t handle, int parent, const char *driver,
              const char *hardwareId, const char *description)
{
    std::vector<SimNode> &nodes = machine->cfgmgr.nodes;
    int index = (int)handle - 1;
    if ((int)nodes.size() <= index)
        nodes.resize(index + 1);
    // SimAddNode sets a node's properties and links it; here it builds the node at the end and
    // the node moves to its place.
    int built = SimAddNode(machine, parent, driver, hardwareId, description);
    nodes[index] = nodes[built];
    nodes.pop_back();
    if (parent >= 0)
        nodes[parent].children.back() = index;
    return index;
}
