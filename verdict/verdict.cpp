// Rating combination and the verdict (placeholder until the verdict lands).
#include "verdict/verdict.h"

#include "probes/chipset.h"
#include "probes/hostctl.h"
#include "probes/os.h"
#include "report/report.h"

SupportFlags CheckHardware(Window window)
{
    SupportFlags chipset = ProbeChipset(window);
    return chipset | ProbeHostControllers(window, chipset);
}

Verdict ChooseVerdict(SupportFlags)
{
    return VERDICT_SUPPORTED;
}

void ShowVerdict(Window, SupportFlags)
{
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

void AdvanceVerdictIcon(Window)
{
}

void ReleaseVerdictIcons()
{
}
