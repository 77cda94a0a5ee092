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

#endif
