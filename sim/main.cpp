// qorvalin-sim SCENARIO.json: one whole check run on the machine the scenario describes, and
// the report of what the program would show.
#include "sim/report_out.h"
#include "sim/scenario.h"
#include "verdict/verdict.h"

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: qorvalin-sim SCENARIO.json\n");
        return 2;
    }
    SimReset();
    std::string error;
    if (!ReadScenarioFile(argv[1], &Sim, &error)) {
        fprintf(stderr, "qorvalin-sim: %s\n", error.c_str());
        return 2;
    }
    ResetCheckRun();
    Window const mainWindow = (Window)0x1;
    CheckRatings ratings = PerformChecks(mainWindow);
    std::string report = FormatReport(Sim, ratings);
    fwrite(report.data(), 1, report.size(), stdout);
    return fflush(stdout) == 0 ? 0 : 1;
}
