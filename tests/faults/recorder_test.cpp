// QVDUMP's recorder against the fake: what it records of a machine replays to the report that
// Qorvalin gives on that machine, and under any one failure of the seam it still ends and
// writes a file that the scenario reader accepts.
#include "tests/support/invariants.h"
#include "tests/support/machines.h"

#include "sim/report_out.h"
#include "sim/scenario.h"
#include "verdict/verdict.h"

#include <gtest/gtest.h>

namespace {

const unsigned CaseSeconds = 20;

std::string Report(const SimMachine &machine, const std::string &label)
{
    Sim = machine;
    ResetCheckRun();
    CheckRatings ratings = PerformChecksWithin(CaseSeconds, label);
    return FormatReport(Sim, ratings);
}

// The machine a recording describes; false, with the reader's complaint, when it refuses it.
bool Replay(const std::string &recording, const std::string &label, SimMachine *machine,
            std::string *error)
{
    SimReset();
    *machine = SimMachine();
    return ParseScenario(recording, label, machine, error);
}

std::vector<SweepMachine> AllMachines()
{
    std::vector<SweepMachine> machines = RepresentativeMachines();
    for (SweepMachine &file : ScenarioFileMachines(QORVALIN_SCENARIO_DIR))
        machines.push_back(file);
    return machines;
}

TEST(Recorder, ItsRecordingReplaysToTheReportOfTheMachine)
{
    for (const SweepMachine &sweep : AllMachines()) {
        std::string expected = Report(sweep.machine, sweep.name);
        Sim = sweep.machine;
        std::string recording = RecordWithin(CaseSeconds, sweep.name);
        SimMachine replayed;
        std::string error;
        ASSERT_TRUE(Replay(recording, sweep.name, &replayed, &error)) << error << "\n"
                                                                      << recording;
        // Known difference: ports taken away in the middle of a run are taken at the n-th
        // access of whoever asks, and the recorder asks in another order than Qorvalin.
        if (sweep.machine.portsDeniedFrom > 1)
            continue;
        EXPECT_EQ(Report(replayed, sweep.name), expected) << sweep.name << "\n" << recording;
    }
}

// Each operation the recorder calls fails alone at each of its calls (the port accesses at
// their first, second and last), those that hand out bytes also after writing them all.
TEST(Recorder, EndsAndWritesAReadableFileUnderAnyOneFailure)
{
    uint32_t struck = 0;
    for (const SweepMachine &sweep : RepresentativeMachines()) {
        Sim = sweep.machine;
        RecordWithin(CaseSeconds, sweep.name);
        uint32_t calls[SIM_OP_COUNT];
        std::copy(Sim.calls, Sim.calls + SIM_OP_COUNT, calls);
        for (int op = 0; op < SIM_OP_COUNT; ++op) {
            for (uint32_t call = 1; call <= calls[op]; ++call) {
                bool port = op == SIM_PORT_WRITE || op == SIM_PORT_READ;
                if (port && call > 2 && call < calls[op])
                    continue;
                for (uint32_t written : {0u, 0xFFFFFFFFu}) {
                    if (written != 0 && !SimOpWrites((SimOp)op))
                        continue;
                    std::string label = sweep.name + " " + SimOpName((SimOp)op) + " call " +
                                        std::to_string(call) + (written ? " +written" : "");
                    Sim = sweep.machine;
                    SimFailCall((SimOp)op, call, written);
                    std::string recording = RecordWithin(CaseSeconds, label);
                    struck += Sim.failures[op] > 0;
                    SimMachine replayed;
                    std::string error;
                    ASSERT_TRUE(Replay(recording, label, &replayed, &error)) << error;
                    Report(replayed, label);
                }
            }
        }
    }
    EXPECT_GT(struck, 0u);
}

}  // namespace
