// What every finished check run in the simulator must look like, whatever the machine and the
// injected failures: shared by the fault sweep and the fuzzer.
#ifndef QORVALIN_INVARIANTS_H
#define QORVALIN_INVARIANTS_H

#include "platform/sim/sim.h"
#include "verdict/verdict.h"

#include <stdint.h>

#include <string>
#include <vector>

// PerformChecks on the main window, within the seconds given: work that has not ended by then
// ends the process with a message that names the case.
CheckRatings PerformChecksWithin(unsigned seconds, const std::string &label);
// What QVDUMP's recorder writes of Sim; RecordWithin within the seconds given.
std::string Recording();
std::string RecordWithin(unsigned seconds, const std::string &label);
// A scenario's text without its why members, which say what made a recording rather than what
// the machine answers; the members around them are left as the recorder writes them.
std::string WithoutWhys(std::string text);

// True when an injected failure in Sim.faults hit the n-th call of op (counting from 1) in the
// run that just ended.
bool FaultHit(SimOp op, uint32_t call);
// True when some injected failure of op struck at all.
bool FaultStruck(SimOp op);

// The catalogue text of a message, read without disturbing Sim.
std::string CatalogueText(uint32_t number);
// The message as a paragraph of More Information holds it, its blank line after it.
std::string CatalogueParagraph(uint32_t number);

// The Details list split at its blank lines: one group per finding, the blank not included.
// A list that does not end with a blank line leaves its last group open (*closed = false).
std::vector<std::vector<std::string>> DetailGroups(const std::vector<std::string> &details,
                                                   bool *closed);

// Everything wrong with the run that just ended in Sim with these ratings, given the failures
// that Sim.faults injected; empty when the run is sound.
std::vector<std::string> CheckRunInvariants(const CheckRatings &ratings);

#endif
