// The verdict rules written out as tables of their own, apart from verdict/, so that the tests
// hold the program to the rules and not to itself: shared by the invariants and the unit tests.
#ifndef QORVALIN_VERDICT_RULES_H
#define QORVALIN_VERDICT_RULES_H

#include "probes/support.h"

#include <stdint.h>

#include <string>
#include <vector>

// What the user sees of a verdict: the headline message and the set of 16 frame icons.
struct VerdictLook {
    const char *name;
    uint32_t headline;
    const char *frames;  // the frame icons' names without their number
};

extern const VerdictLook RuledSupported, RuledChangesRecommended, RuledNotSupported;

// The four ratings a probe's result comes down to, in the order of the tables.
extern const SupportFlags RuledRatings[4];

// The verdict of a combined rating, whatever bits it holds: only SUPPORT_NO and SUPPORT_MAYBE
// decide, NO before MAYBE.
const VerdictLook &RuledVerdict(SupportFlags combined);

// The verdict of an operating-system rating beside a hardware rating, each one of
// RuledRatings; null for any other pair.
const VerdictLook *RuledVerdict(SupportFlags os, SupportFlags hardware);

// The names of a verdict's frames, 1 to 16 in order.
std::vector<std::string> RuledFrames(const VerdictLook &look);

#endif
