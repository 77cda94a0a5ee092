// Scenario files: a JSON description of a machine, read into the simulated platform.
#ifndef QORVALIN_SCENARIO_H
#define QORVALIN_SCENARIO_H

#include "platform/sim/sim.h"

#include <string>

// Fills machine from the scenario text; name is the file's name for messages. On a bad
// scenario returns false with "name: where: what is wrong" in *error, and the machine is
// left half filled.
bool ParseScenario(const std::string &text, const std::string &name, SimMachine *machine,
                   std::string *error);
// The same for a file, which may also fail to be read.
bool ReadScenarioFile(const std::string &path, SimMachine *machine, std::string *error);

#endif
