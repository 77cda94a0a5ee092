// The machines the fault sweep runs on: each Windows family with and without chipsets and host
// controllers, and the scenario files of the golden tests.
#ifndef QORVALIN_MACHINES_H
#define QORVALIN_MACHINES_H

#include "platform/sim/sim.h"
#include "probes/support.h"

#include <string>
#include <vector>

struct SweepMachine {
    std::string name;
    SimMachine machine;
    SupportFlags os;  // the operating-system rating the family must get; 0 when not known
};

// Every family crossed with every hardware set, built in code.
std::vector<SweepMachine> RepresentativeMachines();

// Every scenario file below folder (GROUP/NAME.json) that the reader accepts.
std::vector<SweepMachine> ScenarioFileMachines(const std::string &folder);

// A host controller whose device node the probe must find.
struct ControllerFind {
    int node;              // the node, as an index into the machine's tree
    bool idLost;           // its hardware ID read is taken by a failure
    bool descriptionLost;  // and its description read
};

// What the host controller probe must ask and find on a machine under the failures its record
// holds, from a walk of the tree of its own: pre-order over the nodes that answer, where a
// failed child or sibling query hides what it would have named, and a failed parent query is
// made good only by the node the search came down from or by the parent an elder sibling names.
struct ControllerWalk {
    bool known = false;  // false for a tree that is none (stray links, cycles) or a very large one
    uint32_t opened = 0;                // host controller devices opened
    std::vector<ControllerFind> found;  // in the order of the devices
    // The calls of the operations that only this probe makes (the devices, the library and the
    // configuration manager), by operation.
    uint32_t calls[SIM_OP_COUNT] = {};
};

ControllerWalk WalkControllers(const SimMachine &machine);

// A host controller device \\.\HCDn whose driver replies with the driver key name, or refuses
// the request when there is none.
void AddHcd(SimMachine *machine, int index, const char *driverKey);

// Adds a node below parent (an index, -1 for the root) whose handle is the one given, as
// Windows 9x hands out the addresses of its nodes rather than small numbers: the fake's handle
// is the node's index + 1, so the nodes before it are filled with ones that nothing names.
// Returns its index; the root's handle is 1. Properties as SimAddNode's.
int AddNodeAt(SimMachine *machine, uint32_t handle, int parent, const char *driver,
              const char *hardwareId = nullptr, const char *description = nullptr);

#endif
