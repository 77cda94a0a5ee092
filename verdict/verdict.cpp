// Rating combination: the hardware rating, the verdict with its headline and frames, the check run.
#include "verdict/verdict.h"

#include "art_names.h"
#include "probes/chipset.h"
#include "probes/hostctl.h"
#include "probes/os.h"
#include "report/report.h"
#include "verdict/animation.h"

enum {
    HEADLINE_SIZE = 128,
};

static const struct {
    uint32_t headline;
    const char *framePattern;
} VerdictLooks[] = {
    {MSG_HEADLINE_SUPPORTED, ART_FRAMES_SUPPORTED "%d"},
    {MSG_HEADLINE_CHANGES, ART_FRAMES_CHANGES "%d"},
    {MSG_HEADLINE_NOT_SUPPORTED, ART_FRAMES_NOT_SUPPORTED "%d"},
};

// Within the hardware positive evidence wins: each test works on what the earlier ones left,
// so at most one bit and one paragraph remain.
SupportFlags ResolveHardware(Window window, SupportFlags found)
{
    SupportFlags rating = found;
    if (rating & SUPPORT_YES) {
        AppendInfo(window, MSG_INFO_HARDWARE_SUPPORTED);
        rating &= ~(SUPPORT_MAYBE | SUPPORT_NO | SUPPORT_UNKNOWN);
    }
    // The chipset probe that rates MAYBE has written its own paragraph already.
    if (rating & SUPPORT_MAYBE)
        rating &= ~(SUPPORT_NO | SUPPORT_UNKNOWN);
    if (rating & SUPPORT_NO) {
        AppendInfo(window, MSG_INFO_HARDWARE_NOT_SUPPORTED);
        rating &= ~SUPPORT_UNKNOWN;
    }
    if (rating & SUPPORT_UNKNOWN)
        AppendInfo(window, MSG_INFO_HARDWARE_UNKNOWN);
    return rating;
}

SupportFlags CheckHardware(Window window)
{
    SupportFlags chipset = ProbeChipset(window);
    SupportFlags hostControllers = ProbeHostControllers(window, chipset);
    return ResolveHardware(window, chipset | hostControllers);
}

// Between the operating system and the hardware negative evidence wins; YES and UNKNOWN do not
// count, so an undetermined result looks like a supported one.
Verdict ChooseVerdict(SupportFlags combined)
{
    if (combined & SUPPORT_NO)
        return VERDICT_NOT_SUPPORTED;
    if (combined & SUPPORT_MAYBE)
        return VERDICT_CHANGES_RECOMMENDED;
    return VERDICT_SUPPORTED;
}

void ShowVerdict(Window window, SupportFlags combined)
{
    AppendInfo(window, MSG_INFO_PHYSICAL_PORT);
    Verdict verdict = ChooseVerdict(combined);
    LoadVerdictIcons(window, VerdictLooks[verdict].framePattern);
    char headline[HEADLINE_SIZE];
    headline[0] = '\0';
    PlatformLoadMessage(VerdictLooks[verdict].headline, headline, sizeof headline);
    PlatformSetControlText(window, IDC_HEADLINE, headline);
    StartIconTimer(window);
}

CheckRatings PerformChecks(Window window)
{
    static const int tabStops[] = {10, 20, 30, 40};
    PlatformSetListTabStops(window, IDC_DETAILS_LIST, tabStops, 4);
    CheckRatings ratings;
    ratings.os = CheckOperatingSystem(window);
    ratings.hardware = CheckHardware(window);
    ratings.combined = ratings.os | ratings.hardware;
    ShowVerdict(window, ratings.combined);
    return ratings;
}

void ResetCheckRun()
{
    ClearMoreInfoText();
    ReleaseVerdictIcons();
}
