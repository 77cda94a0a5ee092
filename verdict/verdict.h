// Rating combination, the verdict shown to the user, and the check run that leads to it.
#ifndef QORVALIN_VERDICT_H
#define QORVALIN_VERDICT_H

#include "platform/platform.h"
#include "probes/support.h"

enum Verdict {
    VERDICT_SUPPORTED,
    VERDICT_CHANGES_RECOMMENDED,
    VERDICT_NOT_SUPPORTED,
};

SupportFlags CheckHardware(Window window);
// The four ordered steps of CheckHardware on the OR of both probes' ratings: the hardware
// rating, with at most one hardware paragraph written.
SupportFlags ResolveHardware(Window window, SupportFlags found);
Verdict ChooseVerdict(SupportFlags combined);
void ShowVerdict(Window window, SupportFlags combined);

struct CheckRatings {
    SupportFlags os;
    SupportFlags hardware;
    SupportFlags combined;
};

// The probes and the verdict, in the order the report shows them; the window is still hidden.
CheckRatings PerformChecks(Window window);

// The animated status icon.
void AdvanceVerdictIcon(Window window);
// Gives up the frames when the window goes away; they are shared icons, nothing is destroyed.
void ReleaseVerdictIcons();

// The state a check run leaves behind, back to how a fresh process starts: an empty panel text,
// no icon frames and the sequence before its first tick. Every driver of repeated runs (the
// simulator, the tests, the fuzzer, the benchmarks) calls it before each run.
void ResetCheckRun();

#endif
