// QVDUMP's recorder against the fake: what it records of a machine replays to the report that
// Qorvalin gives on that machine, and under any one failure of the seam it still ends and
// writes a file that the scenario reader accepts.
#include "tests/support/invariants.h"
#include "tests/support/machines.h"

#include "dump/record.h"
#include "sim/report_out.h"
#include "sim/scenario.h"
#include "verdict/verdict.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const unsigned CaseSeconds = 20;

std::string Report(const SimMachine &machine, const std::string &label)
{
    Sim = machine;
    ResetCheckRun();
    return FormatReport(Sim, PerformChecksWithin(CaseSeconds, label));
}

// The machine a recording describes; false, with the reader's complaint, when it refuses it.
bool Replay(const std::string &recording, const std::string &label, SimMachine *machine,
            std::string *error)
{
    SimReset();
    *machine = SimMachine();
    return ParseScenario(recording, label, machine, error);
}

const char UhciKey[] = "{36FC9E60-C465-11CF-8056-444553540000}\\0000";

// Windows 98 with one host controller whose node the configuration manager holds below a node
// without properties.
SimMachine Windows98WithController()
{
    SimMachine m;
    m.versionKnown = true;
    m.version = {4, 10, 0x040A08AE, 1, " A "};
    m.registry9x = {true, true, std::string("4.10.2222", 10)};
    AddHcd(&m, 0, UhciKey);
    int bus = SimAddNode(&m, SimAddNode(&m, -1, nullptr), nullptr);
    SimAddNode(&m, bus, UhciKey, "PCI\\VEN_8086&DEV_7112", "Intel 82371AB/EB PCI to USB");
    return m;
}

// The representative machines, those they and the scenario files leave out for the recorder,
// and the scenario files.
std::vector<SweepMachine> AllMachines()
{
    std::vector<SweepMachine> machines = RepresentativeMachines(),
                              files = ScenarioFileMachines(QORVALIN_SCENARIO_DIR);
    // Registry values of other types than REG_SZ: a DWORD and a REG_EXPAND_SZ text.
    SimMachine typed = Windows98WithController();
    typed.registry9x.type = 2;
    typed.registryNt = {true, true, std::string("\x05\0\0\0", 4), 4};
    machines.push_back({"registry values of types other than REG_SZ", typed, 0});
    // Without CM_Get_Parent the controller is not looked for, though the tree holds it.
    SimMachine lacking = Windows98WithController();
    lacking.cfgmgr.missing = {"CM_Get_Parent"};
    machines.push_back({"a configuration manager without CM_Get_Parent", lacking, 0});
    // Every parent query fails: the node without properties above the controller answers its
    // child query and must not be taken for one that answers nothing.
    SimMachine orphans = Windows98WithController();
    orphans.faults.push_back({SIM_CM_PARENT, 0, 0});
    machines.push_back({"parent queries that all fail", orphans, 0});
    machines.insert(machines.end(), files.begin(), files.end());
    return machines;
}

// Its recording replays to the report of the machine itself; read back and recorded again it
// is the same text, so the replay holds every answer in the form the recorder gave it; and a
// golden scenario that is a recording is exactly what the recorder writes of its machine.
TEST(Recorder, ItsRecordingReplaysToTheMachineAndRecordsAsItself)
{
    for (const SweepMachine &sweep : AllMachines()) {
        std::string expected = Report(sweep.machine, sweep.name);
        Sim = sweep.machine;
        std::string recording = RecordWithin(CaseSeconds, sweep.name);
        SimMachine replayed;
        std::string error;
        ASSERT_TRUE(Replay(recording, sweep.name, &replayed, &error)) << error << "\n"
                                                                      << recording;
        Sim = replayed;
        EXPECT_EQ(WithoutWhys(RecordWithin(CaseSeconds, sweep.name)), WithoutWhys(recording))
            << sweep.name;
        // Known difference: ports taken away in the middle of a run are taken at the n-th
        // access of whoever asks, and the recorder asks in another order than Qorvalin.
        if (sweep.machine.portsDeniedFrom <= 1) {
            EXPECT_EQ(Report(replayed, sweep.name), expected) << sweep.name << "\n" << recording;
        }
    }
    uint32_t recordings = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(QORVALIN_SCENARIO_DIR)) {
        std::string path = entry.path().string();
        if (entry.path().extension() != ".json")
            continue;
        std::ifstream file(path, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), {}};
        if (!IsRecording(text.data(), (uint32_t)text.size()))
            continue;
        ++recordings;
        std::string error;
        ASSERT_TRUE(Replay(text, path, &Sim, &error)) << error;
        EXPECT_EQ(WithoutWhys(RecordWithin(CaseSeconds, path)), WithoutWhys(text)) << path;
    }
    // tests/scenarios/recorded/ holds them, and guests/ the recordings made in the guests.
    EXPECT_GE(recordings, 3u);
}

// QVDUMP replaces an existing file only when it starts as a recording does, with either line
// end; anything else, a file that merely looks like a scenario included, is the user's.
TEST(Recorder, KnowsARecordingByItsStart)
{
    const std::string head = RecordingHead;
    std::string crlf = head;
    crlf.replace(crlf.find('\n'), 1, "\r\n");
    const struct { const char *what; std::string start; bool recording; } rows[] = {
        {"as the recorder writes it", head + " what this machine answered", true},
        {"as QVDUMP writes it", crlf + " what", true}, {"the head alone", head, true},
        {"the head cut short", head.substr(0, head.size() - 1), false},
        {"a hand-written scenario", "{\n  \"version\": {}\n}\n", false},
        {"a why of another's", "{\n  \"why\": \"Recorded by hand\"}", false},
        {"a byte order mark first", "\xEF\xBB\xBF" + head, false},
        {"a letter", "Dear Ms Lindqvist,\r\n", false}, {"nothing", "", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(IsRecording(row.start.data(), (uint32_t)row.start.size()), row.recording)
            << row.what;
}

// Each operation the recorder calls fails alone at each of its calls (the port accesses at
// their first, second and last), those that hand out bytes also after writing them all.
TEST(Recorder, EndsAndWritesAReadableFileUnderAnyOneFailure)
{
    uint32_t struck = 0;
    for (const SweepMachine &sweep : RepresentativeMachines()) {
        Sim = sweep.machine;
        RecordWithin(CaseSeconds, sweep.name);
        const SimMachine recorded = Sim;
        for (int op = 0; op < SIM_OP_COUNT; ++op) {
            for (uint32_t call = 1; call <= recorded.calls[op]; ++call) {
                bool port = op == SIM_PORT_WRITE || op == SIM_PORT_READ;
                if (port && call > 2 && call < recorded.calls[op])
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
